#pragma once
// The main window as the version check sees it, recording the calls made to it in order. A failure
// is injected by naming the operation that should throw.

#include <optional>
#include <string>
#include <vector>

#include "tests/unit/fakes/failure_switch.h"
#include "updater/check/check_view.h"

namespace lumoradex::fakes {

class FakeCheckView : public CheckView {
public:
    std::string VLocale() const override { return Read("VLocale", vLocale); }
    void SetVLocale(const std::string& text) override { Write("SetVLocale", vLocale, text); }
    std::string VSite() const override { return Read("VSite", vSite); }
    void SetVSite(const std::string& text) override { Write("SetVSite", vSite, text); }
    void SetMessage(const std::string& text) override { Write("SetMessage", message, text); }
    void SetMiseAJourVisible(bool visible) override {
        Record("SetMiseAJourVisible");
        miseAJourVisible = visible;
    }
    void SetActionCaption(const std::string& caption) override { Write("SetActionCaption", actionCaption, caption); }
    void Show() override {
        Record("Show");
        visible = true;
    }
    void MakeTopMost() override {
        Record("MakeTopMost");
        topMost = true;
    }
    void Close() override {
        Record("Close");
        closed = true;
    }
    void FlushMessages() override {
        Record("FlushMessages");
        messageWhenFlushed = message;
        visibleWhenFlushed = visible;
    }

    // The creation state of the window's items.
    std::string vLocale = "0.0.0";
    std::string vSite = "0.0.0";
    std::string message;
    bool miseAJourVisible = true;
    std::string actionCaption = "Fermer";
    bool visible = false;
    bool topMost = false;
    bool closed = false;
    std::optional<std::string> messageWhenFlushed;
    bool visibleWhenFlushed = false;

    std::vector<std::string> calls;
    FailureSwitch failures;

private:
    void Record(const std::string& operation) {
        calls.push_back(operation);
        failures.Check(operation);
    }
    std::string Read(const std::string& operation, const std::string& value) const {
        failures.Check(operation);
        return value;
    }
    void Write(const std::string& operation, std::string& target, const std::string& text) {
        Record(operation);
        target = text;
    }
};

} // namespace lumoradex::fakes
