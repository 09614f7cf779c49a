#pragma once
// A top-level window and its controls as inspector.exe reports them (tests/fixtures/inspector), and
// the updater's items found in that report by their place in the main window's layout.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/e2e/wine_session.h"

namespace lumoradex::e2e {

inline constexpr char kUpdaterTitle[] = "Mise \xC3\xA0 jour de Lumoradex";
inline constexpr char kApplicationTitle[] = "Lumoradex";

struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    int Right() const { return left + width; }
    int Bottom() const { return top + height; }
    bool Contains(int x, int y) const { return x >= left && x < Right() && y >= top && y < Bottom(); }
    int CenterX() const { return left + width / 2; }
    int CenterY() const { return top + height / 2; }
    bool operator==(const Rect&) const = default;
};

struct ControlReport {
    int index = 0; // depth first in Z order, topmost first
    std::string hwnd;
    std::string parent;
    int depth = 1; // 1 for a child of the window itself
    long id = 0;
    std::string className;
    Rect rect;            // in the window's client coordinates
    bool visible = false; // its own WS_VISIBLE, whatever its parents'
    bool enabled = false;
    unsigned long style = 0;
    unsigned long exStyle = 0;
    std::string text; // UTF-8
    // "message" (WM_GETTEXT) or "system": the window did not respond, and the text is the copy the
    // system keeps (an EDIT control's own text reaches it only when its program mirrors it there).
    std::string textSource;

    // Compares the class name without regard to letter case (Wine reports "Edit" for "EDIT").
    bool IsClass(std::string_view name) const;
};

struct WindowReport {
    std::string hwnd;
    long pid = 0;    // the Windows process identifier
    int matches = 0; // top-level windows bearing the title
    std::string title;
    std::string className;
    bool visible = false;
    bool iconic = false;
    bool enabled = false;
    unsigned long style = 0;
    unsigned long exStyle = 0;
    bool topmost = false;
    Rect frame;         // the whole window on the screen
    int clientLeft = 0; // screen position of the client area
    int clientTop = 0;
    int clientWidth = 0;
    int clientHeight = 0;
    bool responding = false;
    std::vector<ControlReport> controls;
    std::string raw; // the inspector's output, for failure messages

    const ControlReport* ControlAt(int left, int top) const;
    const ControlReport* ControlWithText(std::string_view text) const;
    std::vector<const ControlReport*> ControlsOfClass(std::string_view className) const;
    // Screen position of a point given in client coordinates.
    int ScreenX(int clientX) const { return clientLeft + clientX; }
    int ScreenY(int clientY) const { return clientTop + clientY; }
    Rect ScreenRect(const Rect& client) const {
        return {ScreenX(client.left), ScreenY(client.top), client.width, client.height};
    }
};

struct TopLevelWindow {
    std::string hwnd;
    long pid = 0;
    std::string title;
    std::string className;
    bool visible = false;
    bool iconic = false;
};

struct InspectOptions {
    std::chrono::milliseconds wait{0}; // keep looking this long when no such window exists yet
    bool visibleOnly = false;
    bool postClose = false; // post WM_CLOSE to the window after reporting it
};

// The first top-level window whose whole title is the given one, hidden ones included unless
// asked otherwise; nothing when there is none.
std::optional<WindowReport> InspectWindow(const WineSession& session, std::string_view title = kUpdaterTitle,
                                          const InspectOptions& options = {});
std::vector<TopLevelWindow> ListTopLevelWindows(const WineSession& session);
WindowReport ParseWindowReport(const std::string& output);

// The main window's items, found by the position the layout gives each; null when absent.
struct UpdaterItems {
    const ControlReport* vLocale = nullptr;
    const ControlReport* vSite = nullptr;
    const ControlReport* message = nullptr;
    const ControlReport* boutonLM1 = nullptr;
    const ControlReport* miseAJour = nullptr;
    const ControlReport* action = nullptr;

    // The report must outlive the items.
    static UpdaterItems Of(const WindowReport& report);
};

} // namespace lumoradex::e2e
