#include "controls/part_capture.h"

namespace lumoradex {

BoutonPart PartCapture::Press(BoutonPart hit) {
    if (captured_ == BoutonPart::None)
        captured_ = hit;
    return captured_;
}

BoutonPart PartCapture::Move(BoutonPart hit) const {
    return Captured() ? captured_ : hit;
}

BoutonPart PartCapture::Release(bool buttonsStillDown) {
    const BoutonPart receiver = captured_;
    if (!buttonsStillDown)
        captured_ = BoutonPart::None;
    return receiver;
}

} // namespace lumoradex
