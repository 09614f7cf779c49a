#pragma once
// The button control's constituent parts as its design fixes them, in twips (15 twips per pixel).
// The layout, the icon choice and the persistence change this state; the window draws it.

#include <cstdint>
#include <string>

namespace lumoradex {

constexpr int kTwipsPerPixel = 15;

// A colour as &H00BBGGRR (red in the low byte).
using Colour = std::uint32_t;

constexpr Colour kCaptionColour = 0x5C3424;
constexpr Colour kIconBlue = 0x8C6444;
constexpr Colour kIconGreen = 0x00C000;
constexpr Colour kIconRed = 0x0000C0;

struct TwipBox {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// Label1: the caption, centred in its box, transparent.
struct CaptionLabel {
    std::string text = "Label1";
    TwipBox box{15, 45, 780, 225};
    std::string fontName = "Arial";
    double fontPoints = 8.25;
    Colour foreColour = kCaptionColour;
};

// Label2: the icon glyph, a character of the symbol font, transparent, over the caption.
struct IconLabel {
    std::string text = "a";
    TwipBox box{75, 15, 165, 255};
    double fontPoints = 9.75;
    Colour foreColour = kIconBlue;
    bool visible = false;
};

struct BoutonParts {
    int width = 1200;
    int height = 300;
    CaptionLabel caption;
    IconLabel icon;
    TwipBox middleStrip{30, 0, 1140, 300}; // Image3
    TwipBox rightEdge{1170, 0, 30, 300};   // Image2
    TwipBox leftEdge{0, 0, 30, 300};       // Image1
};

} // namespace lumoradex
