#include "controls/symbol_text_win.h"

#include <vector>

#include "base/font_win.h"
#include "base/gdi_scope_win.h"

namespace lumoradex {
namespace {

constexpr int kProbeHeight = 16;

bool IsFace(HDC dc, const wchar_t* faceName) {
    wchar_t selected[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, selected);
    return lstrcmpiW(selected, faceName) == 0;
}

bool HasGlyph(HDC dc, wchar_t character) {
    WORD glyph = 0xFFFF;
    return GetGlyphIndicesW(dc, &character, 1, &glyph, GGI_MARK_NONEXISTING_GLYPHS) == 1 && glyph != 0xFFFF;
}

// A missing font is replaced by another one on selection: only the font itself counts. Symbol fonts
// may map their characters at U+F020 to U+F0FF instead of U+0020 to U+00FF: both are looked up.
bool FontHasGlyph(HDC dc, const wchar_t* faceName, wchar_t character) {
    UniqueFont font = CreateLabelFont(faceName, kProbeHeight, SYMBOL_CHARSET);
    SelectedObject selected(dc, font.Get());
    if (!IsFace(dc, faceName))
        return false;
    return HasGlyph(dc, character) || (character < 0x100 && HasGlyph(dc, static_cast<wchar_t>(0xF000 | character)));
}

struct PlacedCharacter {
    wchar_t character;
    UniqueFont font;
    int width;
};

} // namespace

std::wstring SymbolFontFor(HDC dc, wchar_t character) {
    if (FontHasGlyph(dc, kWebdings, character))
        return kWebdings;
    if (FontHasGlyph(dc, kMarlett, character))
        return kMarlett;
    return kWebdings;
}

void DrawSymbolText(HDC dc, std::wstring_view text, const RECT& box, int pixelHeight, bool centred) {
    std::vector<PlacedCharacter> placed;
    int totalWidth = 0;
    for (wchar_t character : text) {
        UniqueFont font = CreateLabelFont(SymbolFontFor(dc, character).c_str(), pixelHeight, SYMBOL_CHARSET);
        SelectedObject selected(dc, font.Get());
        SIZE size{};
        GetTextExtentPoint32W(dc, &character, 1, &size);
        totalWidth += size.cx;
        placed.push_back({character, std::move(font), size.cx});
    }
    int x = centred ? box.left + (box.right - box.left - totalWidth) / 2 : box.left;
    for (const auto& item : placed) {
        SelectedObject selected(dc, item.font.Get());
        ExtTextOutW(dc, x, box.top, ETO_CLIPPED, &box, &item.character, 1, nullptr);
        x += item.width;
    }
}

} // namespace lumoradex
