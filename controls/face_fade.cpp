#include "controls/face_fade.h"

namespace lumoradex {

bool FaceFade::Light() {
    const bool changed = shown_ != states_.orange;
    shown_ = states_.orange;
    return changed;
}

// The tests run from the last fade step back to the first, each against the picture the previous
// test left: in the opposite order one tick would run the whole fade at once.
bool FaceFade::Tick() {
    const PictureId before = shown_;
    if (shown_ == states_.bleuo)
        shown_ = states_.bleu;
    if (shown_ == states_.bleuOO)
        shown_ = states_.bleuo;
    if (shown_ == states_.orange)
        shown_ = states_.bleuOO;
    return shown_ != before;
}

} // namespace lumoradex
