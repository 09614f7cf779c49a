#include "base/font_win.h"

#include <cmath>
#include <cwchar>

#include "base/win32_error_win.h"

namespace lumoradex {

// The program is DPI-unaware, so Windows scales it as a whole: 96 dots per inch always hold here.
int PointsToPixels(double points) {
    return static_cast<int>(std::lround(points * 96 / 72));
}

UniqueFont CreateLabelFont(const wchar_t* faceName, int pixelHeight, BYTE charSet) {
    LOGFONTW logFont{};
    logFont.lfHeight = -pixelHeight;
    logFont.lfWeight = FW_NORMAL;
    logFont.lfCharSet = charSet;
    logFont.lfOutPrecision = OUT_DEFAULT_PRECIS;
    logFont.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    logFont.lfQuality = DEFAULT_QUALITY;
    wcsncpy(logFont.lfFaceName, faceName, LF_FACESIZE - 1);
    UniqueFont font(CreateFontIndirectW(&logFont));
    if (!font)
        ThrowLastError("CreateFontIndirectW");
    return font;
}

} // namespace lumoradex
