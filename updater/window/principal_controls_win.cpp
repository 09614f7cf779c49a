#include "updater/window/principal_controls_win.h"

#include "base/font_win.h"
#include "base/gdi_scope_win.h"
#include "updater/window/resource.h"

namespace lumoradex {
namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kLabelText = RGB(100, 100, 140);
constexpr COLORREF kNoticeText = RGB(128, 128, 255);
constexpr COLORREF kVersionText = RGB(128, 128, 128);
constexpr COLORREF kMessageText = RGB(255, 128, 0);
constexpr COLORREF kFrame = RGB(192, 192, 192);

constexpr wchar_t kNotice[] = L"La mise à jour ou la réinstallation de l'application n'affectent par les données. "
                              L"Les licences et le numéro de série sont préservés.";

struct Frame {
    int left, top, width, height;
};
constexpr Frame kShape1{218, 83, 159, 70};
constexpr Frame kShape2{7, 83, 206, 70};

HWND CreateChild(HWND parent, HINSTANCE instance, const wchar_t* className, const wchar_t* text, DWORD style, int x,
                 int y, int width, int height, HFONT font) {
    HWND child = CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, x, y, width,
                                 height, parent, nullptr, instance, nullptr);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return child;
}

// The version boxes show what the check wrote; the user reads them but does not type into them.
constexpr DWORD kVersionBoxStyle = WS_BORDER | WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL;
// The status line is one frameless line of text, cut at its right edge.
constexpr DWORD kStatusLineStyle = WS_TABSTOP | ES_READONLY;

UniqueBitmap LoadPicture(HINSTANCE instance, int id) {
    return UniqueBitmap(
        static_cast<HBITMAP>(LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
}

void DrawFrame(HDC dc, const Frame& frame) {
    RECT outline{frame.left, frame.top, frame.left + frame.width, frame.top + frame.height};
    UniqueBrush border(CreateSolidBrush(kFrame));
    FrameRect(dc, &outline, border.Get());
}

} // namespace

PrincipalControls::PrincipalControls(HWND window, HINSTANCE instance)
    : window_(window), instance_(instance),
      arial_(CreateLabelFont(L"Arial", PointsToPixels(8.25), ANSI_CHARSET)), white_(CreateSolidBrush(kWhite)),
      package_(LoadPicture(instance, IDB_PACKAGE)), inactiveButton_(LoadPicture(instance, IDB_INACTIVE_BUTTON)) {
    auto dialogFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    label1_ = CreateChild(window, instance, L"STATIC", L"Votre version de Lumoradex", SS_RIGHT, 143, 14, 175, 17,
                          arial_.Get());
    vLocale_ = CreateChild(window, instance, L"EDIT", L"0.0.0", kVersionBoxStyle, 327, 12, 48, 19, dialogFont);
    label2_ = CreateChild(window, instance, L"STATIC", L"Dernière version disponible de Lumoradex", SS_RIGHT, 86, 37,
                          232, 17, arial_.Get());
    vSite_ = CreateChild(window, instance, L"EDIT", L"0.0.0", kVersionBoxStyle, 327, 34, 48, 19, dialogFont);
    message_ = CreateChild(window, instance, L"EDIT", L"", kStatusLineStyle, 90, 64, 285, 13, arial_.Get());
    label3_ = CreateChild(window, instance, L"STATIC", kNotice, SS_CENTER, 12, 91, 195, 61, dialogFont);
}

void PrincipalControls::CreatePictures() {
    HWND image1 = CreateChild(window_, instance_, L"STATIC", nullptr, SS_BITMAP, 10, 8, 71, 69, nullptr);
    SendMessageW(image1, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(package_.Get()));
    HWND image2 = CreateChild(window_, instance_, L"STATIC", nullptr, SS_BITMAP, 220, 107, 155, 23, nullptr);
    SendMessageW(image2, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(inactiveButton_.Get()));
}

HBRUSH PrincipalControls::Colours(HDC dc, HWND control) const {
    if (control == label1_ || control == label2_) {
        SetTextColor(dc, kLabelText);
        SetBkColor(dc, kWhite);
        return white_.Get();
    }
    // The notice lies on the white window without a fill of its own; a hollow brush would leave
    // its background unerased, since the window clips its children out of its own painting.
    if (control == label3_) {
        SetTextColor(dc, kNoticeText);
        SetBkMode(dc, TRANSPARENT);
        return white_.Get();
    }
    if (control == vLocale_ || control == vSite_) {
        SetTextColor(dc, kVersionText);
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return GetSysColorBrush(COLOR_WINDOW);
    }
    if (control == message_) {
        SetTextColor(dc, kMessageText);
        SetBkColor(dc, kWhite);
        return white_.Get();
    }
    return nullptr;
}

void PrincipalControls::PaintFrames(HDC dc) const {
    DrawFrame(dc, kShape2);
    DrawFrame(dc, kShape1);
}

} // namespace lumoradex
