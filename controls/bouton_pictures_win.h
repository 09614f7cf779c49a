#pragma once
// One button's seven face pictures, loaded from the program's resources. The middle strip shows a
// state picture by holding its very handle; its starting picture is a separate one that looks like Bleu.

#include <windows.h>

#include "base/unique_handle_win.h"
#include "controls/face_fade.h"

namespace lumoradex {

struct BoutonPictures {
    UniqueBitmap orange;
    UniqueBitmap bleuOO;
    UniqueBitmap bleuo;
    UniqueBitmap bleu;
    UniqueBitmap starting;
    UniqueBitmap leftEdge;
    UniqueBitmap rightEdge;

    StatePictures States() const;
    PictureId Starting() const;
};

// Throws Win32Error when a picture is missing from the module's resources.
BoutonPictures LoadBoutonPictures(HINSTANCE module);

PictureId IdentityOf(HBITMAP picture);
HBITMAP PictureOf(PictureId identity);

} // namespace lumoradex
