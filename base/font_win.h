#pragma once
// Label fonts, sized as the toolkit sizes them at 96 dots per inch.

#include <windows.h>

#include "base/unique_handle_win.h"

namespace lumoradex {

int PointsToPixels(double points);
// Throws Win32Error when the font cannot be created.
UniqueFont CreateLabelFont(const wchar_t* faceName, int pixelHeight, BYTE charSet);

} // namespace lumoradex
