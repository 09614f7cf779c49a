#pragma once
// The program's only window, Principal: it owns its controls and maps its messages onto the
// handlers, which run on the one user-interface thread and see it through the views they declare.

#include <windows.h>

#include <array>
#include <memory>
#include <string>

#include "updater/check/check_view.h"
#include "updater/check/load_handler.h"
#include "updater/install/install_views.h"
#include "updater/install/update_run.h"
#include "updater/ports/process_services.h"
#include "updater/window/principal_buttons.h"
#include "updater/window/principal_class_win.h"
#include "updater/window/principal_controls_win.h"

namespace lumoradex {

class Principal final : public CheckView, public UpdateRunView, public WindowUpkeep {
public:
    // Creates the window hidden, with every control at its creation state.
    Principal(HINSTANCE instance, ProcessServices& process);
    Principal(const Principal&) = delete;
    Principal& operator=(const Principal&) = delete;
    ~Principal() override;

    // The handlers the window's messages run, once they are built around it.
    void Attach(LoadHandler& loadHandler, UpdateRun& updateRun);
    // The load handler: the whole start-up.
    void Load();

    HWND Handle() const { return window_; }
    bool IsClosed() const { return window_ == nullptr; }

    std::string VLocale() const override;
    void SetVLocale(const std::string& text) override;
    std::string VSite() const override;
    void SetVSite(const std::string& text) override;
    void SetMessage(const std::string& text) override;
    void SetMiseAJourVisible(bool visible) override;
    void SetActionCaption(const std::string& caption) override;
    void Show() override;
    void MakeTopMost() override;
    void Close() override;
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
    ProcessServices& process_;
    HWND window_ = nullptr;
    std::unique_ptr<PrincipalControls> controls_;
    std::array<HWND, 3> buttons_{}; // by PrincipalButton
    int runningHandlers_ = 0;
    ULONGLONG lastRepaint_ = 0;
    LoadHandler* loadHandler_ = nullptr; // keeps PageVersion between runs
    UpdateRun* updateRun_ = nullptr;     // its re-check is a nested run of the load handler
};

// Runs the message loop until the window is gone; returns the exit code.
int RunMessageLoop(HWND window);

} // namespace lumoradex
