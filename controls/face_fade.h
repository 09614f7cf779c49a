#pragma once
// The face state of the middle strip, recognised by picture identity (the platform's picture handle),
// never by pixels: hover turns it Orange, each tick of the fade clock moves it one step back to Bleu.

#include <cstdint>

namespace lumoradex {

// The identity of a picture object; two pictures with equal pixels are still different pictures.
using PictureId = std::uintptr_t;

struct StatePictures {
    PictureId orange;
    PictureId bleuOO;
    PictureId bleuo;
    PictureId bleu;
};

class FaceFade {
public:
    // The strip starts on its own picture, which looks like Bleu but is none of the four.
    FaceFade(const StatePictures& states, PictureId starting) : states_(states), shown_(starting) {}

    PictureId Shown() const { return shown_; }
    // Hover or press: the strip shows Orange. Returns whether the picture changed.
    bool Light();
    // One tick of the fade clock. Returns whether the picture changed.
    bool Tick();

private:
    StatePictures states_;
    PictureId shown_;
};

} // namespace lumoradex
