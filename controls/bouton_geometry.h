#pragma once
// The parts' places in pixels and which part the mouse reaches at a point: the icon glyph (when
// visible), then the caption, the middle strip, the right edge, the left edge, as they are drawn.

#include "controls/bouton_parts.h"

namespace lumoradex {

enum class BoutonPart { None, IconGlyph, Caption, MiddleStrip, RightEdge, LeftEdge };

struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    bool operator==(const PixelRect&) const = default;
};

int TwipsToPixels(int twips);
PixelRect ToPixels(const TwipBox& box);

// The part under a point given in pixels from the control's top-left corner.
BoutonPart HitTest(const BoutonParts& parts, int x, int y);

} // namespace lumoradex
