#pragma once
// The main window as the update run sees it, with the upkeep that keeps it painted. What the run
// shows goes into a log of events that the other fakes of a test share, so that one order can be
// checked across them all. A test may wait on its disk thread until the window is repainted.

#include <atomic>
#include <string>
#include <vector>

#include "tests/unit/fakes/signal.h"
#include "updater/install/install_views.h"

namespace lumoradex::fakes {

class FakeUpdateRunView final : public UpdateRunView, public WindowUpkeep {
public:
    explicit FakeUpdateRunView(std::vector<std::string>& events) : events_(events) {}

    std::string VLocale() const override { return vLocale; }
    std::string VSite() const override { return vSite; }
    void SetMessage(const std::string& text) override {
        message = text;
        events_.push_back("message " + text);
    }
    void SetMiseAJourVisible(bool visible) override {
        miseAJourVisible = visible;
        events_.push_back(visible ? "show MiseAJour" : "hide MiseAJour");
    }
    void SetActionCaption(const std::string& caption) override {
        actionCaption = caption;
        events_.push_back("caption " + caption);
    }
    void FlushMessages() override { events_.push_back("flush"); }
    void RepaintNow() override {
        ++repaints;
        repainted.Raise();
    }

    std::string vLocale = "4.2.0";
    std::string vSite = "4.2.1";
    std::string message;
    bool miseAJourVisible = true;
    std::string actionCaption = "Me le rappeler plus tard";
    std::atomic<int> repaints = 0;
    Signal repainted;

private:
    std::vector<std::string>& events_;
};

} // namespace lumoradex::fakes
