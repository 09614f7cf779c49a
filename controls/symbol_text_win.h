#pragma once
// Text in the button's symbol font. Webdings is the font the design names, but Wine's copy holds only
// "0" to "6"; Marlett, which Windows and Wine both ship, draws "a" as a check mark and "r" as a cross.
// So the font is chosen per character: Webdings where it has the glyph, else Marlett where it has it,
// else Webdings again (the design's font shows its own missing-glyph mark for such a character).

#include <windows.h>

#include <string>
#include <string_view>

namespace lumoradex {

constexpr wchar_t kWebdings[] = L"Webdings";
constexpr wchar_t kMarlett[] = L"Marlett";

// The face name of the font that draws the character.
std::wstring SymbolFontFor(HDC dc, wchar_t character);

// Draws the text on one line in the symbol fonts, clipped to the box, centred or from its left.
void DrawSymbolText(HDC dc, std::wstring_view text, const RECT& box, int pixelHeight, bool centred);

} // namespace lumoradex
