#include "updater/window/Principal_win.h"

#include <algorithm>

#include "base/failure_rule.h"
#include "base/wide_text_win.h"
#include "controls/BoutonLMX_win.h"
#include "updater/release/server_addresses.h"

namespace lumoradex {
namespace {

constexpr wchar_t kTitle[] = L"Mise à jour de Lumoradex";
constexpr int kClientWidth = 381;
constexpr int kClientHeight = 157;
constexpr int kFirstButtonId = 100; // plus the PrincipalButton

void RegisterWindowClass(HINSTANCE instance, WNDPROC procedure) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = kPrincipalClassName;
    RegisterClassExW(&windowClass); // a second window of the class reuses the registration
}

// Counts the handlers on the stack, so that the close box knows whether one is running.
class RunningHandler {
public:
    explicit RunningHandler(int& count) : count_(++count) {}
    RunningHandler(const RunningHandler&) = delete;
    RunningHandler& operator=(const RunningHandler&) = delete;
    ~RunningHandler() { --count_; }

private:
    int& count_;
};

std::string WindowText(HWND window) {
    int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
    return Narrow(text);
}

void SetText(HWND window, const std::string& text) { SetWindowTextW(window, Widen(text).c_str()); }

} // namespace

Principal::Principal(HINSTANCE instance, ProcessServices& process) : instance_(instance), process_(process) {
    RegisterWindowClass(instance, WindowProcedure);
    // A fixed-size tool window: small title bar with a close box only, no taskbar button, no icon.
    const DWORD style = WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    const DWORD extendedStyle = WS_EX_TOOLWINDOW;
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, extendedStyle);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    CreateWindowExW(extendedStyle, kPrincipalClassName, kTitle, style, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                    (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, nullptr, nullptr, instance, this);
}

Principal::~Principal() {
    if (window_ != nullptr)
        DestroyWindow(window_);
}

void Principal::Attach(LoadHandler& loadHandler, UpdateRun& updateRun) {
    loadHandler_ = &loadHandler;
    updateRun_ = &updateRun;
}

void Principal::Load() {
    RunningHandler running(runningHandlers_);
    loadHandler_->Run();
}

LRESULT CALLBACK Principal::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<Principal*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Principal*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT Principal::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        OnCreate();
        return 0;
    case WM_COMMAND:
        OnCommand(reinterpret_cast<HWND>(lParam), HIWORD(wParam));
        return 0;
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
        return OnControlColour(message, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        OnNcDestroy();
        break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

// Creation order is tab order and layering: labels and boxes, the buttons, then the pictures
// beneath them (the inactive "Mettre à jour" picture shows only where MiseAJour is hidden).
void Principal::OnCreate() {
    controls_ = std::make_unique<PrincipalControls>(window_, instance_);
    CreateButtons();
    controls_->CreatePictures();
}

void Principal::OnPaint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window_, &paint);
    controls_->PaintFrames(dc);
    EndPaint(window_, &paint);
}

LRESULT Principal::OnControlColour(UINT message, HDC dc, HWND control) {
    if (HBRUSH brush = controls_->Colours(dc, control))
        return reinterpret_cast<LRESULT>(brush);
    return DefWindowProcW(window_, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control));
}

// The close box ends the program at any moment. While a handler runs (an update between two
// files, say) the window cannot be destroyed under it: the process ends at once instead, which
// leaves every file wholly old or wholly new since each is replaced by a rename.
void Principal::OnClose() {
    if (runningHandlers_ > 0)
        process_.EndProgram();
    DestroyWindow(window_);
}

// Each button is restored from its property set in the saved layout, then sized at its place. A
// button that cannot be created is left out; the window works on without it.
void Principal::CreateButtons() {
    for (const auto& saved : SavedButtons()) {
        const auto index = static_cast<size_t>(saved.button);
        const RECT place{saved.left, saved.top, saved.left + saved.width, saved.top + saved.height};
        SkipOnFailure([&] {
            buttons_[index] = CreateBoutonLMX(window_, kFirstButtonId + static_cast<int>(index), place,
                                              saved.properties);
        });
    }
}

// The buttons raise Click as WM_COMMAND; Mousemouve is raised too, but nothing here listens to it.
// A Click handler runs under the failure rule of its own: no exception leaves the window procedure.
void Principal::OnCommand(HWND control, WORD code) {
    const auto found = std::find(buttons_.begin(), buttons_.end(), control);
    if (code != kBoutonClick || control == nullptr || found == buttons_.end())
        return;
    SkipOnFailure([&] {
        switch (static_cast<PrincipalButton>(found - buttons_.begin())) {
        case PrincipalButton::BoutonLM1:
            OnBoutonLM1Click();
            break;
        case PrincipalButton::MiseAJour:
            OnMiseAJourClick();
            break;
        case PrincipalButton::Action:
            OnActionClick();
            break;
        }
    });
}

// The support page opens in the system's browser, minimised with the focus; the window stays as it
// was, and a browser that cannot be started is no error of the updater's.
void Principal::OnBoutonLM1Click() {
    SkipOnFailure([&] { process_.StartProgram("explorer.exe " + SupportPageUrl(), SW_SHOWMINIMIZED); });
}

void Principal::OnMiseAJourClick() {
    RunningHandler running(runningHandlers_);
    updateRun_->Run();
}

// Whatever its caption, "Terminer" or "Me le rappeler plus tard": the program ends at once.
void Principal::OnActionClick() { process_.EndProgram(); }

void Principal::OnNcDestroy() {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    window_ = nullptr;
}

std::string Principal::VLocale() const { return WindowText(controls_->VLocale()); }
void Principal::SetVLocale(const std::string& text) { SetText(controls_->VLocale(), text); }
std::string Principal::VSite() const { return WindowText(controls_->VSite()); }
void Principal::SetVSite(const std::string& text) { SetText(controls_->VSite(), text); }
void Principal::SetMessage(const std::string& text) { SetText(controls_->Message(), text); }

void Principal::SetMiseAJourVisible(bool visible) {
    ShowWindow(Button(PrincipalButton::MiseAJour), visible ? SW_SHOWNA : SW_HIDE);
}
void Principal::SetActionCaption(const std::string& caption) { SetText(Button(PrincipalButton::Action), caption); }

void Principal::Show() {
    const bool wasVisible = IsWindowVisible(window_);
    ShowWindow(window_, SW_SHOW);
    if (!wasVisible)
        FocusFirstControl();
}

// Labels take no focus: the first control in tab order that can is the installed version's box.
void Principal::FocusFirstControl() {
    if (HWND first = GetNextDlgTabItem(window_, nullptr, FALSE))
        SetFocus(first);
}

void Principal::MakeTopMost() { SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE); }

void Principal::Close() {
    if (window_ != nullptr)
        DestroyWindow(window_);
}

void Principal::FlushMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// A download asks for a repaint after every chunk it receives, hundreds of times a second on a fast
// link; a whole-window repaint each time would cost more than the transfer itself. Ten repaints a
// second keep the window alive, as the busy poll's 100 ms do.
void Principal::RepaintNow() {
    constexpr ULONGLONG kRepaintInterval = 100;
    const ULONGLONG now = GetTickCount64();
    if (window_ == nullptr || now - lastRepaint_ < kRepaintInterval)
        return;
    lastRepaint_ = now;
    RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

// The dialog manager gives the window its tab order between the boxes.
int RunMessageLoop(HWND window) {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (IsWindow(window) && IsDialogMessageW(window, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

} // namespace lumoradex
