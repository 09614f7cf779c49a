#include "controls/bouton_icon.h"

#include <array>
#include <cstdint>
#include <limits>
#include <string_view>

#include "controls/text_length.h"

namespace lumoradex {
namespace {

struct IconWord {
    std::string_view caption;
    std::string_view glyph;
    Colour colour;
};

// In the symbol font "a" is a check mark, "r" a cross and "2" the mark of something new.
constexpr std::string_view kNewGlyph = "2";
// The words are compared whole and case-sensitively.
constexpr std::array<IconWord, 6> kIconWords{{
    {"Ok", "a", kIconGreen},
    {"Synchroniser", "a", kIconGreen},
    {"Valider", "a", kIconGreen},
    {"Appliquer", "a", kIconGreen},
    {"Annuler", "r", kIconRed},
    {"Supprimer", "r", kIconRed},
}};

// "Nouve" anywhere in the caption overrides the whole words.
const IconWord* GlyphFor(const std::string& caption) {
    static constexpr IconWord kNew{"", kNewGlyph, kIconBlue};
    if (caption.find("Nouve") != std::string::npos)
        return &kNew;
    for (const auto& word : kIconWords) {
        if (caption == word.caption)
            return &word;
    }
    return nullptr;
}

void ChooseGlyph(const std::string& caption, IconLabel& icon) {
    const IconWord* glyph = GlyphFor(caption);
    icon.text = glyph != nullptr ? std::string(glyph->glyph) : std::string();
    if (glyph != nullptr)
        icon.foreColour = glyph->colour;
}

} // namespace

void ChooseIcon(BoutonParts& parts) {
    ChooseGlyph(parts.caption.text, parts.icon);
    parts.icon.visible = IconShows(parts.width, CharacterCount(parts.caption.text));
}

// The product is a 32-bit signed integer: a caption long enough to leave that range (over 16.5
// million characters) is wider than any control could be, so its icon never shows.
bool IconShows(int width, std::size_t captionLength) {
    constexpr std::size_t kLongestMeasurable = std::numeric_limits<std::int32_t>::max() / 130;
    if (captionLength > kLongestMeasurable)
        return false;
    const auto product = static_cast<std::int32_t>(130 * captionLength);
    return width > product && width > 1000;
}

} // namespace lumoradex
