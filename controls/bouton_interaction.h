#pragma once
// The button's behaviour under the mouse and the fade clock: each step as the control runs it, with
// the window's side (clock, repaint, pointer, events to the host) behind BoutonSurface.

#include "controls/bouton_parts.h"
#include "controls/face_fade.h"

namespace lumoradex {

enum class CaptionPointer { Default, Hourglass, Custom };

class BoutonSurface {
public:
    virtual ~BoutonSurface() = default;
    // Sets the fade clock's period to 200 ms.
    virtual void StartFadeClock() = 0;
    virtual void FaceChanged() = 0;
    virtual void CaptionMoved(int oldTop) = 0;
    virtual void CaptionPointerChanged() = 0;
    // Raise the events to the host, which handles them before the call returns.
    virtual void RaiseClick() = 0;
    virtual void RaiseMousemouve() = 0;
};

class BoutonInteraction {
public:
    BoutonInteraction(BoutonParts& parts, FaceFade& face, BoutonSurface& surface)
        : parts_(parts), face_(face), surface_(surface) {}

    void OnShow(bool userMode);
    void OnCaptionDown();
    void OnCaptionMove();
    void OnCaptionUp();
    void OnMiddleStripUp();
    void OnTick();

    CaptionPointer Pointer() const { return pointer_; }

private:
    void Light();
    void MoveCaption(int from, int to);

    BoutonParts& parts_;
    FaceFade& face_;
    BoutonSurface& surface_;
    CaptionPointer pointer_ = CaptionPointer::Default;
};

} // namespace lumoradex
