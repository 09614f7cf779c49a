#pragma once
// The icon glyph a caption chooses when the button is restored, and whether it shows.

#include <cstddef>

#include "controls/bouton_parts.h"

namespace lumoradex {

// Steps R2 to R5: the icon from the caption's exact words, "Nouve" anywhere overriding them, and
// its visibility from the current width.
void ChooseIcon(BoutonParts& parts);

// The icon shows when the width exceeds both 1000 twips and 130 twips per caption character.
bool IconShows(int width, std::size_t captionLength);

} // namespace lumoradex
