#pragma once
// Draws a button's face into any device context: from the bottom, the left edge, the right edge, the
// middle strip (stretched), the caption and the icon glyph over it.

#include <windows.h>

#include "controls/bouton_parts.h"

namespace lumoradex {

struct BoutonLook {
    const BoutonParts& parts;
    HBITMAP middleStrip; // the picture the strip shows now
    HBITMAP leftEdge;
    HBITMAP rightEdge;
};

// Paints the button with its top-left corner at the top-left corner of `bounds`, clipped to it.
void PaintBouton(HDC dc, const RECT& bounds, const BoutonLook& look);

} // namespace lumoradex
