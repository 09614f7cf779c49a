#include "controls/bouton_paint_win.h"

#include "base/font_win.h"
#include "base/gdi_scope_win.h"
#include "base/unique_handle_win.h"
#include "base/wide_text_win.h"
#include "controls/bouton_geometry.h"
#include "controls/bouton_layout.h"
#include "controls/symbol_text_win.h"

namespace lumoradex {
namespace {

RECT Place(const RECT& bounds, const TwipBox& box) {
    const PixelRect pixels = ToPixels(box);
    return {bounds.left + pixels.left, bounds.top + pixels.top, bounds.left + pixels.right, bounds.top + pixels.bottom};
}

// Pictures are stretched to their boxes pixel by pixel, never blended, so every drawn pixel is one of
// the picture's own colours.
void DrawPicture(HDC dc, HBITMAP picture, const RECT& box) {
    BITMAP size{};
    GetObjectW(picture, sizeof size, &size);
    UniqueMemoryDc source(CreateCompatibleDC(dc));
    SelectedObject selected(source.Get(), picture);
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchBlt(dc, box.left, box.top, box.right - box.left, box.bottom - box.top, source.Get(), 0, 0, size.bmWidth,
               size.bmHeight, SRCCOPY);
}

void DrawCaption(HDC dc, const CaptionLabel& caption, const RECT& box) {
    const std::wstring text = Widen(caption.text);
    const int height = PointsToPixels(caption.fontPoints);
    SetTextColor(dc, caption.foreColour);
    if (caption.fontName == kSymbolFontName) {
        DrawSymbolText(dc, text, box, height, true);
        return;
    }
    UniqueFont font = CreateLabelFont(Widen(caption.fontName).c_str(), height, DEFAULT_CHARSET);
    SelectedObject selected(dc, font.Get());
    RECT textBox = box;
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &textBox, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
}

void DrawIcon(HDC dc, const IconLabel& icon, const RECT& box) {
    SetTextColor(dc, icon.foreColour);
    DrawSymbolText(dc, Widen(icon.text), box, PointsToPixels(icon.fontPoints), false);
}

} // namespace

// The control's back colour is the system colour of window interiors; the pictures cover it at every
// size the layout produces.
void PaintBouton(HDC dc, const RECT& bounds, const BoutonLook& look) {
    const BoutonParts& parts = look.parts;
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, bounds.left, bounds.top, bounds.right, bounds.bottom);
    FillRect(dc, &bounds, GetSysColorBrush(COLOR_WINDOW));
    DrawPicture(dc, look.leftEdge, Place(bounds, parts.leftEdge));
    DrawPicture(dc, look.rightEdge, Place(bounds, parts.rightEdge));
    DrawPicture(dc, look.middleStrip, Place(bounds, parts.middleStrip));
    SetBkMode(dc, TRANSPARENT);
    DrawCaption(dc, parts.caption, Place(bounds, parts.caption.box));
    if (parts.icon.visible)
        DrawIcon(dc, parts.icon, Place(bounds, parts.icon.box));
    RestoreDC(dc, saved);
}

} // namespace lumoradex
