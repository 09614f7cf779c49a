#include "updater/Principal_win.h"

#include <algorithm>

#include "controls/BoutonLMX_win.h"
#include "system/wide_text_win.h"
#include "updater/failure_rule.h"

namespace lumoradex {
namespace {

constexpr wchar_t kClassName[] = L"MAJLumoradex.Principal";
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
    windowClass.lpszClassName = kClassName;
    RegisterClassExW(&windowClass); // a second window of the class reuses the registration
}

HWND CreateEdit(HWND parent, HINSTANCE instance, const wchar_t* text, int x, int y, int width, int height) {
    return CreateWindowExW(0, L"EDIT", text, WS_CHILD | WS_VISIBLE | WS_BORDER | ES_READONLY | ES_AUTOHSCROLL, x, y,
                           width, height, parent, nullptr, instance, nullptr);
}

std::string WindowText(HWND window) {
    int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
    return Narrow(text);
}

void SetText(HWND window, const std::string& text) { SetWindowTextW(window, Widen(text).c_str()); }

} // namespace

Principal::Principal(HINSTANCE instance) : instance_(instance) {
    RegisterWindowClass(instance, WindowProcedure);
    const DWORD style = WS_CAPTION | WS_SYSMENU;
    const DWORD extendedStyle = WS_EX_TOOLWINDOW;
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, extendedStyle);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    CreateWindowExW(extendedStyle, kClassName, kTitle, style, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                    (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, nullptr, nullptr, instance, this);
}

Principal::~Principal() {
    if (window_ != nullptr)
        DestroyWindow(window_);
}

void Principal::Load() { loadHandler_.Run(); }

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
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        OnNcDestroy();
        break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

void Principal::OnCreate() {
    vLocale_ = CreateEdit(window_, instance_, L"0.0.0", 327, 12, 48, 19);
    vSite_ = CreateEdit(window_, instance_, L"0.0.0", 327, 34, 48, 19);
    message_ = CreateEdit(window_, instance_, L"", 90, 64, 285, 13);
    CreateButtons();
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

void Principal::OnBoutonLM1Click() {}
void Principal::OnMiseAJourClick() { updateRun_.Run(); }
void Principal::OnActionClick() {}

void Principal::OnNcDestroy() {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    window_ = nullptr;
}

std::string Principal::VLocale() const { return WindowText(vLocale_); }
void Principal::SetVLocale(const std::string& text) { SetText(vLocale_, text); }
std::string Principal::VSite() const { return WindowText(vSite_); }
void Principal::SetVSite(const std::string& text) { SetText(vSite_, text); }
std::string Principal::Message() const { return WindowText(message_); }
void Principal::SetMessage(const std::string& text) { SetText(message_, text); }

void Principal::SetMiseAJourVisible(bool visible) {
    ShowWindow(Button(PrincipalButton::MiseAJour), visible ? SW_SHOWNA : SW_HIDE);
}
void Principal::SetActionCaption(const std::string& caption) { SetText(Button(PrincipalButton::Action), caption); }

void Principal::Show() { ShowWindow(window_, SW_SHOW); }

void Principal::MakeTopMost() { SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE); }

void Principal::Close() {
    if (window_ != nullptr)
        DestroyWindow(window_);
}

bool Principal::IsClosed() const { return window_ == nullptr; }

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

void Principal::RepaintNow() {
    if (window_ != nullptr)
        RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

int RunMessageLoop() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

} // namespace lumoradex
