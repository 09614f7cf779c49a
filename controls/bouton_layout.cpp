#include "controls/bouton_layout.h"

#include <algorithm>

#include "controls/text_length.h"

namespace lumoradex {
namespace {

// Letters and signs that read as text even alone; the test is case-sensitive, so "n" is a glyph.
constexpr std::string_view kTextCharacters = "NS<>+-";

void SetFaceHeights(BoutonParts& parts, int height) {
    parts.height = height;
    parts.leftEdge.height = height;
    parts.rightEdge.height = height;
    parts.middleStrip.height = height;
}

// The glyph form's caption settings stay when the caption later becomes text: only a glyph layout
// writes them, and the text layout leaves the caption label alone.
void SetGlyphCaption(CaptionLabel& caption) {
    caption.fontPoints = 18;
    caption.box.height = 600;
    caption.fontName = kSymbolFontName;
    caption.box.top = 90;
    caption.foreColour = kCaptionColour;
}

} // namespace

BoutonForm FormOf(std::string_view caption) {
    if (CharacterCount(caption) != 1)
        return BoutonForm::Text;
    return caption.size() == 1 && kTextCharacters.find(caption[0]) != std::string_view::npos ? BoutonForm::Text
                                                                                             : BoutonForm::Glyph;
}

// Widths under 60 twips would give the strip and the caption negative widths; they get none instead.
void LayOut(BoutonParts& parts, int width) {
    parts.width = width;
    if (FormOf(parts.caption.text) == BoutonForm::Glyph) {
        SetFaceHeights(parts, kGlyphButtonHeight);
        SetGlyphCaption(parts.caption);
    } else {
        SetFaceHeights(parts, kTextButtonHeight);
    }
    parts.rightEdge.left = width - 30;
    parts.middleStrip.width = std::max(width - 60, 0);
    parts.caption.box.width = std::max(width - 60, 0);
}

} // namespace lumoradex
