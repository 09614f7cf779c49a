#include "controls/BoutonLMX_win.h"

#include <windowsx.h>

#include <algorithm>

#include "base/gdi_scope_win.h"
#include "base/unique_handle_win.h"
#include "base/wide_text_win.h"
#include "base/win32_error_win.h"
#include "controls/bouton_geometry.h"
#include "controls/bouton_interaction.h"
#include "controls/bouton_layout.h"
#include "controls/bouton_paint_win.h"
#include "controls/bouton_pictures_win.h"
#include "controls/bouton_properties.h"
#include "controls/bouton_resource.h"
#include "controls/part_capture.h"

namespace lumoradex {
namespace {

constexpr UINT kReadProperties = WM_USER + 1;
constexpr UINT kWriteProperties = WM_USER + 2;
constexpr UINT_PTR kFadeTimer = 1;
constexpr UINT kFadePeriodMs = 200;
constexpr WPARAM kAnyButton = MK_LBUTTON | MK_RBUTTON | MK_MBUTTON | MK_XBUTTON1 | MK_XBUTTON2;

class PaintScope {
public:
    explicit PaintScope(HWND window) : window_(window) { BeginPaint(window, &paint_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    ~PaintScope() { EndPaint(window_, &paint_); }
    HDC Dc() const { return paint_.hdc; }
    const RECT& Dirty() const { return paint_.rcPaint; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
};

RECT ToRect(const PixelRect& pixels) {
    return {pixels.left, pixels.top, pixels.right, pixels.bottom};
}

class Bouton final : private BoutonSurface {
public:
    Bouton(HWND window, HINSTANCE module)
        : window_(window), pictures_(LoadBoutonPictures(module)), face_(pictures_.States(), pictures_.Starting()),
          hand_(LoadCursorW(module, MAKEINTRESOURCEW(IDC_BOUTON_MAIN))) {}

    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnCreate(const CREATESTRUCTW& create);
    void OnSize(int width);
    void OnPaint();
    void OnPrintClient(HDC dc);
    void OnSetText(const wchar_t* text);
    void OnReadProperties(const PropertySet& saved);
    void OnButtonDown(LPARAM position);
    void OnButtonUp(WPARAM buttons);
    void OnMouseMove(LPARAM position);
    bool OnSetCursor();
    void OnShowWindow(bool shown);

    void Paint(HDC dc, const RECT& bounds) const;
    void SetCaption(const std::string& text);
    BoutonPart PartAt(LPARAM position) const;
    bool PointerOverCaption() const;
    void RaiseToHost(WORD code);

    void StartFadeClock() override;
    void FaceChanged() override;
    void CaptionMoved(int oldTop) override;
    void CaptionPointerChanged() override;
    void RaiseClick() override { RaiseToHost(kBoutonClick); }
    void RaiseMousemouve() override { RaiseToHost(kBoutonMousemouve); }

    HWND window_;
    BoutonParts parts_;
    BoutonPictures pictures_;
    FaceFade face_;
    BoutonInteraction interaction_{parts_, face_, *this};
    PartCapture capture_;
    HCURSOR hand_; // shared resource cursor: not destroyed
    bool clockRunning_ = false;
    int handlersRunning_ = 0;
};

// The host may destroy the control from its Click handler while a mouse step still runs: the object
// then outlives its window until the outermost message returns, and every window call is skipped.
LRESULT CALLBACK Bouton::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        try {
            auto module = reinterpret_cast<HINSTANCE>(GetClassLongPtrW(window, GCLP_HMODULE));
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new Bouton(window, module)));
        } catch (...) {
            return FALSE;
        }
    }
    auto* self = reinterpret_cast<Bouton*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    LRESULT result = 0;
    ++self->handlersRunning_;
    try {
        result = self->HandleMessage(message, wParam, lParam);
    } catch (...) {
        // No exception crosses the window manager; the step simply ends here.
    }
    if (--self->handlersRunning_ == 0 && self->window_ == nullptr)
        delete self;
    return result;
}

LRESULT Bouton::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        OnCreate(*reinterpret_cast<CREATESTRUCTW*>(lParam));
        return 0;
    case WM_SIZE:
        OnSize(LOWORD(lParam));
        return 0;
    case WM_ERASEBKGND:
        return 1; // the paint covers every pixel
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_PRINTCLIENT:
        OnPrintClient(reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_SETTEXT:
        OnSetText(reinterpret_cast<const wchar_t*>(lParam));
        return TRUE;
    case kReadProperties:
        OnReadProperties(*reinterpret_cast<const PropertySet*>(lParam));
        return 0;
    case kWriteProperties:
        WriteProperties(parts_, *reinterpret_cast<PropertySet*>(lParam));
        return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_XBUTTONDOWN:
        OnButtonDown(lParam);
        return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
    case WM_XBUTTONUP:
        OnButtonUp(wParam);
        return 0;
    case WM_MOUSEMOVE:
        OnMouseMove(lParam);
        return 0;
    case WM_CAPTURECHANGED:
        if (reinterpret_cast<HWND>(lParam) != window_)
            capture_.Lose();
        return 0;
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT && OnSetCursor())
            return TRUE;
        break;
    case WM_SHOWWINDOW:
        OnShowWindow(wParam != FALSE);
        break;
    case WM_TIMER:
        if (wParam == kFadeTimer)
            interaction_.OnTick();
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        window_ = nullptr;
        return 0;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

// The window name given at creation is a first write of the caption; without one the design's
// "Label1" stays. A control created visible is shown with its host: that starts the fade clock.
void Bouton::OnCreate(const CREATESTRUCTW& create) {
    SetCaption(create.lpszName != nullptr ? Narrow(create.lpszName) : parts_.caption.text);
    parts_.width = create.cx * kTwipsPerPixel;
    if (create.lpCreateParams != nullptr)
        OnReadProperties(*static_cast<const PropertySet*>(create.lpCreateParams));
    OnSize(create.cx);
    if ((create.style & WS_VISIBLE) != 0)
        interaction_.OnShow(true);
}

// The control keeps its own height whatever the host asks: the corrected size comes back as a further
// WM_SIZE, where the layout, being idempotent, changes nothing.
void Bouton::OnSize(int width) {
    LayOut(parts_, width * kTwipsPerPixel);
    RECT client{};
    GetClientRect(window_, &client);
    const int height = TwipsToPixels(parts_.height);
    if (client.bottom != height)
        SetWindowPos(window_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(window_, nullptr, FALSE);
}

// Drawn into a back buffer and copied at once, so the face never flickers between its layers.
void Bouton::OnPaint() {
    PaintScope paint(window_);
    RECT client{};
    GetClientRect(window_, &client);
    UniqueMemoryDc buffer(CreateCompatibleDC(paint.Dc()));
    UniqueBitmap surface(CreateCompatibleBitmap(paint.Dc(), client.right, client.bottom));
    if (!buffer || !surface)
        return;
    SelectedObject selected(buffer.Get(), surface.Get());
    Paint(buffer.Get(), client);
    const RECT& dirty = paint.Dirty();
    BitBlt(paint.Dc(), dirty.left, dirty.top, dirty.right - dirty.left, dirty.bottom - dirty.top, buffer.Get(),
           dirty.left, dirty.top, SRCCOPY);
}

void Bouton::OnPrintClient(HDC dc) {
    RECT client{};
    GetClientRect(window_, &client);
    Paint(dc, client);
}

void Bouton::Paint(HDC dc, const RECT& bounds) const {
    PaintBouton(dc, bounds, {parts_, PictureOf(face_.Shown()), pictures_.leftEdge.Get(), pictures_.rightEdge.Get()});
}

void Bouton::OnSetText(const wchar_t* text) {
    SetCaption(text != nullptr ? Narrow(text) : std::string());
    InvalidateRect(window_, nullptr, FALSE);
}

// The window manager keeps its own copy of the text too, which other processes read.
void Bouton::SetCaption(const std::string& text) {
    parts_.caption.text = text;
    DefWindowProcW(window_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Widen(text).c_str()));
}

void Bouton::OnReadProperties(const PropertySet& saved) {
    ReadProperties(parts_, saved);
    SetCaption(parts_.caption.text);
    InvalidateRect(window_, nullptr, FALSE);
}

BoutonPart Bouton::PartAt(LPARAM position) const {
    return HitTest(parts_, GET_X_LPARAM(position), GET_Y_LPARAM(position));
}

// The pressed part keeps the mouse until the last button is up, so a release off the control still
// reaches it.
void Bouton::OnButtonDown(LPARAM position) {
    const BoutonPart receiver = capture_.Press(PartAt(position));
    if (capture_.Captured() && GetCapture() != window_)
        SetCapture(window_);
    if (receiver == BoutonPart::Caption)
        interaction_.OnCaptionDown();
}

void Bouton::OnButtonUp(WPARAM buttons) {
    const BoutonPart receiver = capture_.Release((buttons & kAnyButton) != 0);
    if (!capture_.Captured() && GetCapture() == window_)
        ReleaseCapture();
    if (receiver == BoutonPart::Caption)
        interaction_.OnCaptionUp();
    else if (receiver == BoutonPart::MiddleStrip)
        interaction_.OnMiddleStripUp();
}

void Bouton::OnMouseMove(LPARAM position) {
    if (capture_.Move(PartAt(position)) == BoutonPart::Caption)
        interaction_.OnCaptionMove();
}

bool Bouton::PointerOverCaption() const {
    POINT pointer{};
    GetCursorPos(&pointer);
    if (WindowFromPoint(pointer) != window_)
        return false;
    ScreenToClient(window_, &pointer);
    return HitTest(parts_, pointer.x, pointer.y) == BoutonPart::Caption;
}

// The caption's custom pointer has no picture of its own, so the control's hand shows there too.
bool Bouton::OnSetCursor() {
    const bool waiting = interaction_.Pointer() == CaptionPointer::Hourglass && PointerOverCaption();
    SetCursor(waiting ? LoadCursorW(nullptr, IDC_WAIT) : hand_);
    return true;
}

void Bouton::OnShowWindow(bool shown) {
    if (shown)
        interaction_.OnShow(true);
}

// The period is set once: setting it again would only restart the countdown, and the fade takes
// 400 to 600 ms either way.
void Bouton::StartFadeClock() {
    if (window_ == nullptr || clockRunning_)
        return;
    clockRunning_ = SetTimer(window_, kFadeTimer, kFadePeriodMs, nullptr) != 0;
}

void Bouton::FaceChanged() {
    if (window_ == nullptr)
        return;
    const RECT strip = ToRect(ToPixels(parts_.middleStrip));
    InvalidateRect(window_, &strip, FALSE);
}

void Bouton::CaptionMoved(int oldTop) {
    if (window_ == nullptr)
        return;
    RECT box = ToRect(ToPixels(parts_.caption.box));
    box.top = std::min<LONG>(box.top, TwipsToPixels(oldTop));
    box.bottom += 1;
    InvalidateRect(window_, &box, FALSE);
}

// The host's handler may not let messages through, so the pointer is set at once, not on the next
// WM_SETCURSOR.
void Bouton::CaptionPointerChanged() {
    if (window_ != nullptr && PointerOverCaption())
        OnSetCursor();
}

void Bouton::RaiseToHost(WORD code) {
    if (window_ == nullptr)
        return;
    SendMessageW(GetParent(window_), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(window_), code),
                 reinterpret_cast<LPARAM>(window_));
}

} // namespace

void RegisterBoutonLMX(HINSTANCE module) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = Bouton::WindowProcedure;
    windowClass.hInstance = module;
    windowClass.hCursor = LoadCursorW(module, MAKEINTRESOURCEW(IDC_BOUTON_MAIN));
    windowClass.lpszClassName = kBoutonClassName;
    if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        ThrowLastError("RegisterClassExW");
}

HWND CreateBoutonLMX(HWND parent, int id, const RECT& place, const PropertySet& saved) {
    HWND bouton =
        CreateWindowExW(0, kBoutonClassName, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, place.left, place.top,
                        place.right - place.left, place.bottom - place.top, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, const_cast<PropertySet*>(&saved));
    if (bouton == nullptr)
        ThrowLastError("CreateWindowExW");
    return bouton;
}

void ReadBoutonProperties(HWND bouton, const PropertySet& saved) {
    SendMessageW(bouton, kReadProperties, 0, reinterpret_cast<LPARAM>(&saved));
}

void WriteBoutonProperties(HWND bouton, PropertySet& saved) {
    SendMessageW(bouton, kWriteProperties, 0, reinterpret_cast<LPARAM>(&saved));
}

} // namespace lumoradex
