#pragma once
// The progress messages of an elevated instance, relayed to the window of the instance that asked
// for it: each text goes as WM_COPYDATA, which Windows lets a process of higher integrity send to
// one of lower integrity (the reverse direction stays closed).

#include <windows.h>

#include <optional>
#include <string>

#include "updater/main_window_items.h"

namespace lumoradex {

// The text of a relayed progress message; nothing for any other WM_COPYDATA.
std::optional<std::string> ReceivedProgress(const COPYDATASTRUCT& data);

// The elevated instance's stand-in for the window: SetMessage is relayed, the installed version is
// kept for the run, the rest has nothing to show.
class RelayedProgressWindow final : public MainWindowItems {
public:
    // A handle that is not a window of the given class gets nothing.
    RelayedProgressWindow(HWND progressWindow, const wchar_t* windowClass);

    std::string VLocale() const override { return vLocale_; }
    void SetVLocale(const std::string& text) override { vLocale_ = text; }
    std::string VSite() const override { return {}; }
    void SetVSite(const std::string&) override {}
    std::string Message() const override { return message_; }
    void SetMessage(const std::string& text) override;
    void SetMiseAJourVisible(bool) override {}
    void SetActionCaption(const std::string&) override {}
    void Show() override {}
    void MakeTopMost() override {}
    void Close() override {}
    bool IsClosed() const override { return false; }
    void FlushMessages() override {}
    void RepaintNow() override {}

private:
    HWND progressWindow_;
    std::string vLocale_;
    std::string message_;
};

} // namespace lumoradex
