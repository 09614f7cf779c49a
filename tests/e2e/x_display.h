#pragma once
// The session's X display as a user sees it: windows found by title, screenshots read pixel by
// pixel, and the mouse. The session's windows are undecorated, so X coordinates are the Win32
// screen coordinates (WindowReport::ScreenX/ScreenY convert client coordinates).

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "tests/e2e/window_report.h"
#include "tests/e2e/wine_session.h"

namespace lumoradex::e2e {

struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;

    // A colour as the window's definitions write it: &H00BBGGRR&.
    static Rgb FromBgr(std::uint32_t bgr) {
        return {static_cast<std::uint8_t>(bgr & 0xFF), static_cast<std::uint8_t>((bgr >> 8) & 0xFF),
                static_cast<std::uint8_t>((bgr >> 16) & 0xFF)};
    }
    bool operator==(const Rgb&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Rgb& colour);

// A captured picture; pixel (0, 0) lies at the screen position (originX, originY).
class Image {
public:
    // A binary PPM (P6, 8 bits per sample), as ImageMagick writes it.
    static Image FromPpm(std::string_view ppm, int originX = 0, int originY = 0);

    int Width() const { return width_; }
    int Height() const { return height_; }
    int OriginX() const { return originX_; }
    int OriginY() const { return originY_; }
    // The pixel at a position within the picture; throws std::out_of_range outside it.
    Rgb At(int x, int y) const;
    // The pixel at a screen position.
    Rgb AtScreen(int x, int y) const { return At(x - originX_, y - originY_); }
    // How many pixels of a rectangle (picture coordinates, clipped to the picture) have the colour,
    // or satisfy the test (for drawn text, whose edges are blended).
    int CountInRect(const Rect& rect, const Rgb& colour) const;
    int CountInRect(const Rect& rect, const std::function<bool(const Rgb&)>& test) const;
    // The same for a rectangle in screen coordinates (WindowReport::ScreenRect gives a control's).
    int CountInScreenRect(const Rect& rect, const std::function<bool(const Rgb&)>& test) const;
    // Writes the picture as a PNG file (through /usr/bin/convert).
    void SavePng(const std::filesystem::path& file) const;

private:
    int width_ = 0;
    int height_ = 0;
    int originX_ = 0;
    int originY_ = 0;
    std::vector<std::uint8_t> pixels_; // red, green, blue per pixel, row by row
};

struct XWindow {
    unsigned long id = 0;
    Rect geometry; // on the screen
};

class XDisplay {
public:
    explicit XDisplay(const WineSession& session) : session_(session) {}

    // X windows whose whole name is the title; only mapped ones unless asked otherwise.
    std::vector<XWindow> FindWindows(std::string_view title, bool onlyVisible = true) const;
    std::optional<XWindow> FindWindow(std::string_view title, bool onlyVisible = true) const;
    // The window's pixels as they are on the screen now.
    Image Capture(const XWindow& window) const;
    std::optional<Image> CaptureWindow(std::string_view title) const;
    Image CaptureScreen() const;

    void MoveMouse(int x, int y) const;
    // Moves the mouse to the screen position, then presses and releases a button (1 left, 2 middle, 3 right).
    void Click(int x, int y, int button = 1) const;
    void PressButton(int button = 1) const;
    void ReleaseButton(int button = 1) const;

private:
    std::string Run(const std::vector<std::string>& argv, std::string_view input = {}) const;

    const WineSession& session_;
};

} // namespace lumoradex::e2e
