#pragma once
// The program's only window, Principal: it owns its controls and the page text, and runs the
// handlers on the one user-interface thread.

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "system/elevation_win.h"
#include "system/debug_trace_win.h"
#include "system/environment_win.h"
#include "system/installation_files_win.h"
#include "system/process_services_win.h"
#include "system/release_verifier_win.h"
#include "system/transfer_win.h"
#include "updater/load_handler.h"
#include "updater/main_window_items.h"
#include "updater/principal_buttons.h"
#include "updater/principal_controls_win.h"
#include "updater/update_run.h"

namespace lumoradex {

// Makes the elevation service for the window whose handle it is given.
using ElevationFactory = std::function<std::unique_ptr<Elevation>(const HWND& window)>;

class Principal final : public MainWindowItems {
public:
    static constexpr wchar_t kClassName[] = L"MAJLumoradex.Principal";

    // Creates the window hidden, with every control at its creation state. With a release key, the
    // update run installs signed releases only.
    Principal(HINSTANCE instance, const std::optional<P256PublicKey>& releaseKey, const ElevationFactory& elevation);
    Principal(const Principal&) = delete;
    Principal& operator=(const Principal&) = delete;
    ~Principal() override;

    // The load handler: the whole start-up.
    void Load();

    HWND Handle() const { return window_; }

    std::string VLocale() const override;
    void SetVLocale(const std::string& text) override;
    std::string VSite() const override;
    void SetVSite(const std::string& text) override;
    std::string Message() const override;
    void SetMessage(const std::string& text) override;
    void SetMiseAJourVisible(bool visible) override;
    void SetActionCaption(const std::string& caption) override;
    void Show() override;
    void MakeTopMost() override;
    void Close() override;
    bool IsClosed() const override;
    void FlushMessages() override;
    void RepaintNow() override;

private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnCreate();
    void OnPaint();
    LRESULT OnControlColour(UINT message, HDC dc, HWND control);
    void OnClose();
    void OnNcDestroy();
    void FocusFirstControl();
    void CreateButtons();
    void OnCommand(HWND control, WORD code);
    HWND Button(PrincipalButton button) const { return buttons_[static_cast<size_t>(button)]; }

    // Click handlers of the three buttons.
    void OnBoutonLM1Click();
    void OnMiseAJourClick();
    void OnActionClick();

    HINSTANCE instance_;
    HWND window_ = nullptr;
    std::unique_ptr<PrincipalControls> controls_;
    std::array<HWND, 3> buttons_{}; // by PrincipalButton
    int runningHandlers_ = 0;
    ULONGLONG lastRepaint_ = 0;

    Win32Environment environment_;
    WinInetTransfer transfer_; // Inet1
    LoadHandler loadHandler_{*this, environment_, transfer_}; // keeps PageVersion between runs
    Win32InstallationFiles installationFiles_;
    Win32ProcessServices processServices_;
    std::unique_ptr<CngReleaseVerifier> releaseVerifier_;
    std::unique_ptr<Elevation> elevation_;
    DebugStringTrace trace_;
    // The update handler; its re-check is a nested run of the load handler.
    UpdateRun updateRun_{{*this, environment_, transfer_, installationFiles_, processServices_, releaseVerifier_.get(),
                          elevation_.get(), &trace_},
                         [this] { loadHandler_.Run(); }};
};

// Runs the message loop until the window is gone; returns the exit code.
int RunMessageLoop(HWND window);

} // namespace lumoradex
