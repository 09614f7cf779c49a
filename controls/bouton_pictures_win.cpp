#include "controls/bouton_pictures_win.h"

#include "base/win32_error_win.h"
#include "controls/bouton_resource.h"

namespace lumoradex {
namespace {

// DIB sections keep the pictures' exact colours whatever the screen's depth.
UniqueBitmap LoadPicture(HINSTANCE module, int id) {
    UniqueBitmap picture(
        static_cast<HBITMAP>(LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    if (!picture)
        ThrowLastError("LoadImageW");
    return picture;
}

} // namespace

StatePictures BoutonPictures::States() const {
    return {IdentityOf(orange.Get()), IdentityOf(bleuOO.Get()), IdentityOf(bleuo.Get()), IdentityOf(bleu.Get())};
}

PictureId BoutonPictures::Starting() const {
    return IdentityOf(starting.Get());
}

BoutonPictures LoadBoutonPictures(HINSTANCE module) {
    return {LoadPicture(module, IDB_BOUTON_ORANGE), LoadPicture(module, IDB_BOUTON_BLEUOO),
            LoadPicture(module, IDB_BOUTON_BLEUO),  LoadPicture(module, IDB_BOUTON_BLEU),
            LoadPicture(module, IDB_BOUTON_DEPART), LoadPicture(module, IDB_BOUTON_GAUCHE),
            LoadPicture(module, IDB_BOUTON_DROITE)};
}

PictureId IdentityOf(HBITMAP picture) {
    return reinterpret_cast<PictureId>(picture);
}
HBITMAP PictureOf(PictureId identity) {
    return reinterpret_cast<HBITMAP>(identity);
}

} // namespace lumoradex
