#pragma once
// The controls of Principal besides its three buttons, as the window was designed: the labels,
// the version and status boxes, the two pictures and the two frames. It owns their fonts, brushes
// and pictures, and answers the colour messages the window forwards to it.

#include <windows.h>

#include "base/unique_handle_win.h"

namespace lumoradex {

class PrincipalControls {
public:
    // Creates the controls before the buttons (tab order and layering follow creation order).
    PrincipalControls(HWND window, HINSTANCE instance);
    // Creates the pictures after the buttons, so that they lie beneath them.
    void CreatePictures();

    HWND VLocale() const { return vLocale_; }
    HWND VSite() const { return vSite_; }
    HWND Message() const { return message_; }

    // WM_CTLCOLORSTATIC and WM_CTLCOLOREDIT: the brush for one of these controls, or nullptr
    // when the control is not one of them.
    HBRUSH Colours(HDC dc, HWND control) const;
    // The two light-grey frames, drawn on the window's own surface beneath its controls.
    void PaintFrames(HDC dc) const;

private:
    HWND window_;
    HINSTANCE instance_;
    UniqueFont arial_;
    UniqueBrush white_;
    UniqueBitmap package_;
    UniqueBitmap inactiveButton_;
    HWND label1_ = nullptr;
    HWND vLocale_ = nullptr;
    HWND label2_ = nullptr;
    HWND vSite_ = nullptr;
    HWND message_ = nullptr;
    HWND label3_ = nullptr;
};

} // namespace lumoradex
