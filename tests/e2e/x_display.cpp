#include "tests/e2e/x_display.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <stdexcept>

#include "tests/e2e/process.h"

namespace lumoradex::e2e {
namespace {

constexpr char kConvert[] = "/usr/bin/convert"; // ImageMagick's own, not another "convert" in PATH

std::string QuoteRegex(std::string_view text) {
    std::string quoted = "^";
    for (char c : text) {
        if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos)
            quoted += '\\';
        quoted += c;
    }
    return quoted + "$";
}

// PPM headers are blank-separated fields, with comments from '#' to the end of the line.
std::string_view::size_type SkipBlanksAndComments(std::string_view text, std::string_view::size_type position) {
    while (position < text.size()) {
        if (std::isspace(static_cast<unsigned char>(text[position]))) {
            ++position;
        } else if (text[position] == '#') {
            position = text.find('\n', position);
            if (position == std::string_view::npos)
                return text.size();
        } else {
            break;
        }
    }
    return position;
}

int ReadHeaderNumber(std::string_view text, std::string_view::size_type& position) {
    position = SkipBlanksAndComments(text, position);
    int value = 0;
    bool any = false;
    while (position < text.size() && std::isdigit(static_cast<unsigned char>(text[position]))) {
        value = value * 10 + (text[position] - '0');
        ++position;
        any = true;
    }
    if (!any)
        throw std::runtime_error("malformed PPM header");
    return value;
}

} // namespace

std::ostream& operator<<(std::ostream& out, const Rgb& colour) {
    return out << "rgb(" << int(colour.red) << ", " << int(colour.green) << ", " << int(colour.blue) << ")";
}

Image Image::FromPpm(std::string_view ppm, int originX, int originY) {
    if (ppm.substr(0, 2) != "P6")
        throw std::runtime_error("not a binary PPM picture");
    std::string_view::size_type position = 2;
    Image image;
    image.width_ = ReadHeaderNumber(ppm, position);
    image.height_ = ReadHeaderNumber(ppm, position);
    if (ReadHeaderNumber(ppm, position) != 255)
        throw std::runtime_error("only 8-bit PPM pictures are read");
    ++position; // the single blank after the header
    const size_t size = static_cast<size_t>(image.width_) * static_cast<size_t>(image.height_) * 3;
    if (ppm.size() < position + size)
        throw std::runtime_error("truncated PPM picture");
    image.pixels_.assign(ppm.begin() + static_cast<std::ptrdiff_t>(position),
                         ppm.begin() + static_cast<std::ptrdiff_t>(position + size));
    image.originX_ = originX;
    image.originY_ = originY;
    return image;
}

Rgb Image::At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_)
        throw std::out_of_range("pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") outside a " +
                                std::to_string(width_) + "x" + std::to_string(height_) + " picture");
    const size_t offset = (static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)) * 3;
    return {pixels_[offset], pixels_[offset + 1], pixels_[offset + 2]};
}

int Image::CountInRect(const Rect& rect, const Rgb& colour) const {
    return CountInRect(rect, [&](const Rgb& pixel) { return pixel == colour; });
}

int Image::CountInRect(const Rect& rect, const std::function<bool(const Rgb&)>& test) const {
    int count = 0;
    for (int y = std::max(rect.top, 0); y < std::min(rect.Bottom(), height_); ++y)
        for (int x = std::max(rect.left, 0); x < std::min(rect.Right(), width_); ++x)
            count += test(At(x, y)) ? 1 : 0;
    return count;
}

int Image::CountInScreenRect(const Rect& rect, const std::function<bool(const Rgb&)>& test) const {
    return CountInRect({rect.left - originX_, rect.top - originY_, rect.width, rect.height}, test);
}

void Image::SavePng(const std::filesystem::path& file) const {
    std::string ppm = "P6\n" + std::to_string(width_) + " " + std::to_string(height_) + "\n255\n";
    ppm.append(pixels_.begin(), pixels_.end());
    CommandResult result = RunCommand({kConvert, "ppm:-", "png:" + file.string()}, EnvironmentWith({}), ppm);
    if (result.exitCode != 0)
        throw std::runtime_error("convert could not write " + file.string());
}

std::string XDisplay::Run(const std::vector<std::string>& argv, std::string_view input) const {
    CommandResult result = RunCommand(argv, session_.Variables(), input, std::chrono::seconds(20));
    if (result.timedOut)
        throw std::runtime_error(argv.front() + " did not end");
    return result.output;
}

std::vector<XWindow> XDisplay::FindWindows(std::string_view title, bool onlyVisible) const {
    std::vector<std::string> argv{"xdotool", "search"};
    if (onlyVisible)
        argv.emplace_back("--onlyvisible");
    argv.insert(argv.end(), {"--name", QuoteRegex(title)});
    std::istringstream ids(Run(argv));
    std::vector<XWindow> windows;
    unsigned long id = 0;
    while (ids >> id) {
        // xdotool's search ignores letter case: keep the exact names only.
        std::string name = Run({"xdotool", "getwindowname", std::to_string(id)});
        if (!name.empty() && name.back() == '\n')
            name.pop_back();
        if (name != title)
            continue;
        std::istringstream shell(Run({"xdotool", "getwindowgeometry", "--shell", std::to_string(id)}));
        XWindow window{id, {}};
        for (std::string line; std::getline(shell, line);) {
            const size_t equals = line.find('=');
            if (equals == std::string::npos)
                continue;
            const std::string key = line.substr(0, equals);
            const int value = std::stoi(line.substr(equals + 1));
            if (key == "X")
                window.geometry.left = value;
            else if (key == "Y")
                window.geometry.top = value;
            else if (key == "WIDTH")
                window.geometry.width = value;
            else if (key == "HEIGHT")
                window.geometry.height = value;
        }
        windows.push_back(window);
    }
    return windows;
}

std::optional<XWindow> XDisplay::FindWindow(std::string_view title, bool onlyVisible) const {
    std::vector<XWindow> windows = FindWindows(title, onlyVisible);
    if (windows.empty())
        return std::nullopt;
    return windows.front();
}

Image XDisplay::Capture(const XWindow& window) const {
    const std::string xwd = Run({"xwd", "-silent", "-id", std::to_string(window.id)});
    return Image::FromPpm(Run({kConvert, "xwd:-", "ppm:-"}, xwd), window.geometry.left, window.geometry.top);
}

std::optional<Image> XDisplay::CaptureWindow(std::string_view title) const {
    std::optional<XWindow> window = FindWindow(title);
    if (!window)
        return std::nullopt;
    return Capture(*window);
}

Image XDisplay::CaptureScreen() const {
    const std::string xwd = Run({"xwd", "-silent", "-root"});
    return Image::FromPpm(Run({kConvert, "xwd:-", "ppm:-"}, xwd));
}

void XDisplay::MoveMouse(int x, int y) const {
    // No --sync: it waits forever when the pointer is already there; X delivers the motion before
    // any later click anyway.
    Run({"xdotool", "mousemove", std::to_string(x), std::to_string(y)});
}

void XDisplay::Click(int x, int y, int button) const {
    MoveMouse(x, y);
    Run({"xdotool", "click", std::to_string(button)});
}

void XDisplay::PressButton(int button) const {
    Run({"xdotool", "mousedown", std::to_string(button)});
}

void XDisplay::ReleaseButton(int button) const {
    Run({"xdotool", "mouseup", std::to_string(button)});
}

} // namespace lumoradex::e2e
