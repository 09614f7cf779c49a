#include "controls/bouton_interaction.h"

namespace lumoradex {
namespace {

constexpr int kCaptionRestTop = 45;
constexpr int kCaptionPressedTop = 60;

} // namespace

void BoutonInteraction::OnShow(bool userMode) {
    if (userMode)
        surface_.StartFadeClock();
}

// Only a text button's caption rests at 45 twips; a glyph button's sits at 90 and never sinks.
void BoutonInteraction::OnCaptionDown() {
    MoveCaption(kCaptionRestTop, kCaptionPressedTop);
    Light();
}

void BoutonInteraction::OnCaptionMove() {
    Light();
    surface_.RaiseMousemouve();
}

// The host's handler may flush messages and raise a Click of this very button inside this one: no
// flag guards against it, and the inner return sets the custom pointer while the outer still runs.
void BoutonInteraction::OnCaptionUp() {
    surface_.StartFadeClock();
    MoveCaption(kCaptionPressedTop, kCaptionRestTop);
    pointer_ = CaptionPointer::Hourglass;
    surface_.CaptionPointerChanged();
    surface_.RaiseClick();
    pointer_ = CaptionPointer::Custom;
    surface_.CaptionPointerChanged();
}

void BoutonInteraction::OnMiddleStripUp() {
    surface_.RaiseClick();
}

void BoutonInteraction::OnTick() {
    if (face_.Tick())
        surface_.FaceChanged();
}

void BoutonInteraction::Light() {
    if (face_.Light())
        surface_.FaceChanged();
}

void BoutonInteraction::MoveCaption(int from, int to) {
    if (parts_.caption.box.top != from)
        return;
    parts_.caption.box.top = to;
    surface_.CaptionMoved(from);
}

} // namespace lumoradex
