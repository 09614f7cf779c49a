#pragma once
// Mouse capture between the button's parts: the part pressed first receives every further press,
// movement and release until the last mouse button is up, wherever the pointer goes.

#include "controls/bouton_geometry.h"

namespace lumoradex {

class PartCapture {
public:
    // A button goes down over `hit`; returns the part that receives the press.
    BoutonPart Press(BoutonPart hit);
    // The pointer moves over `hit`; returns the part that receives the movement.
    BoutonPart Move(BoutonPart hit) const;
    // A button goes up; returns the part that receives the release (None when nothing was pressed).
    BoutonPart Release(bool buttonsStillDown);
    // The platform took the capture away.
    void Lose() { captured_ = BoutonPart::None; }
    bool Captured() const { return captured_ != BoutonPart::None; }

private:
    BoutonPart captured_ = BoutonPart::None;
};

} // namespace lumoradex
