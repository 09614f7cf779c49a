#include "controls/bouton_geometry.h"

#include <cmath>

namespace lumoradex {

// The program is DPI-unaware: Windows scales it as a whole, so a pixel is always 15 twips.
int TwipsToPixels(int twips) {
    return static_cast<int>(std::lround(static_cast<double>(twips) / kTwipsPerPixel));
}

PixelRect ToPixels(const TwipBox& box) {
    const int left = TwipsToPixels(box.left);
    const int top = TwipsToPixels(box.top);
    return {left, top, left + TwipsToPixels(box.width), top + TwipsToPixels(box.height)};
}

// The four state pictures are parked far below every run-time height and can never be reached.
BoutonPart HitTest(const BoutonParts& parts, int x, int y) {
    if (!PixelRect{0, 0, TwipsToPixels(parts.width), TwipsToPixels(parts.height)}.Contains(x, y))
        return BoutonPart::None;
    if (parts.icon.visible && ToPixels(parts.icon.box).Contains(x, y))
        return BoutonPart::IconGlyph;
    if (ToPixels(parts.caption.box).Contains(x, y))
        return BoutonPart::Caption;
    if (ToPixels(parts.middleStrip).Contains(x, y))
        return BoutonPart::MiddleStrip;
    if (ToPixels(parts.rightEdge).Contains(x, y))
        return BoutonPart::RightEdge;
    if (ToPixels(parts.leftEdge).Contains(x, y))
        return BoutonPart::LeftEdge;
    return BoutonPart::None;
}

} // namespace lumoradex
