#include "tests/e2e/window_report.h"

#include <cctype>
#include <stdexcept>

#include "tests/e2e/build_paths.h"
#include "tests/e2e/record.h"

namespace lumoradex::e2e {
namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

Rect RectOf(const Record& record) {
    return {static_cast<int>(record.Number("left")), static_cast<int>(record.Number("top")),
            static_cast<int>(record.Number("width")), static_cast<int>(record.Number("height"))};
}

ControlReport ControlOf(const Record& record) {
    ControlReport control;
    control.index = static_cast<int>(record.Number("index"));
    control.hwnd = record.Get("hwnd");
    control.parent = record.Get("parent");
    control.depth = static_cast<int>(record.Number("depth"));
    control.id = static_cast<long>(record.Number("id"));
    control.className = record.Get("class");
    control.rect = RectOf(record);
    control.visible = record.Flag("visible");
    control.enabled = record.Flag("enabled");
    control.style = static_cast<unsigned long>(record.Number("style"));
    control.exStyle = static_cast<unsigned long>(record.Number("exstyle"));
    control.text = record.Get("text");
    control.textSource = record.Get("text_source");
    return control;
}

std::string Option(std::string_view name, std::string_view value) {
    return std::string(name) + std::string(value);
}

CommandResult RunInspector(const WineSession& session, std::vector<std::string> arguments,
                           std::chrono::milliseconds wait) {
    std::vector<std::string> argv{session.Loader(), FixturePath("inspector/inspector.exe").string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    CommandResult result = RunCommand(argv, session.Variables(), {}, wait + std::chrono::seconds(30));
    if (result.timedOut || (result.exitCode != 0 && result.exitCode != 1))
        throw std::runtime_error("inspector.exe failed (exit " + std::to_string(result.exitCode) +
                                 "): " + result.output + result.errors);
    return result;
}

} // namespace

bool ControlReport::IsClass(std::string_view name) const {
    return SameIgnoringCase(className, name);
}

const ControlReport* WindowReport::ControlAt(int left, int top) const {
    for (const ControlReport& control : controls)
        if (control.rect.left == left && control.rect.top == top)
            return &control;
    return nullptr;
}

const ControlReport* WindowReport::ControlWithText(std::string_view text) const {
    for (const ControlReport& control : controls)
        if (control.text == text)
            return &control;
    return nullptr;
}

std::vector<const ControlReport*> WindowReport::ControlsOfClass(std::string_view className) const {
    std::vector<const ControlReport*> chosen;
    for (const ControlReport& control : controls)
        if (control.IsClass(className))
            chosen.push_back(&control);
    return chosen;
}

WindowReport ParseWindowReport(const std::string& output) {
    const std::vector<Record> records = ParseRecords(output);
    const std::vector<Record> windows = RecordsOfKind(records, "window");
    if (windows.size() != 1)
        throw std::runtime_error("the inspector's report holds no window record: " + output);
    const Record& window = windows.front();
    WindowReport report;
    report.hwnd = window.Get("hwnd");
    report.pid = static_cast<long>(window.Number("pid"));
    report.matches = static_cast<int>(window.Number("matches"));
    report.title = window.Get("title");
    report.className = window.Get("class");
    report.visible = window.Flag("visible");
    report.iconic = window.Flag("iconic");
    report.enabled = window.Flag("enabled");
    report.style = static_cast<unsigned long>(window.Number("style"));
    report.exStyle = static_cast<unsigned long>(window.Number("exstyle"));
    report.topmost = window.Flag("topmost");
    report.frame = RectOf(window);
    report.clientLeft = static_cast<int>(window.Number("client_left"));
    report.clientTop = static_cast<int>(window.Number("client_top"));
    report.clientWidth = static_cast<int>(window.Number("client_width"));
    report.clientHeight = static_cast<int>(window.Number("client_height"));
    report.responding = window.Flag("responding");
    for (const Record& record : RecordsOfKind(records, "control"))
        report.controls.push_back(ControlOf(record));
    report.raw = output;
    return report;
}

std::optional<WindowReport> InspectWindow(const WineSession& session, std::string_view title,
                                          const InspectOptions& options) {
    std::vector<std::string> arguments{Option("--title=", title)};
    if (options.wait.count() > 0)
        arguments.push_back(Option("--wait=", std::to_string(options.wait.count())));
    if (options.visibleOnly)
        arguments.emplace_back("--visible-only");
    if (options.postClose)
        arguments.emplace_back("--post-close");
    CommandResult result = RunInspector(session, arguments, options.wait);
    if (result.exitCode != 0)
        return std::nullopt;
    return ParseWindowReport(result.output);
}

std::vector<TopLevelWindow> ListTopLevelWindows(const WineSession& session) {
    CommandResult result = RunInspector(session, {"--list"}, std::chrono::milliseconds(0));
    std::vector<TopLevelWindow> windows;
    for (const Record& record : RecordsOfKind(ParseRecords(result.output), "toplevel"))
        windows.push_back({record.Get("hwnd"), static_cast<long>(record.Number("pid")), record.Get("title"),
                           record.Get("class"), record.Flag("visible"), record.Flag("iconic")});
    return windows;
}

UpdaterItems UpdaterItems::Of(const WindowReport& report) {
    // Positions in pixels of the main window's layout (client coordinates).
    auto edit = [&](int left, int top) {
        const ControlReport* control = report.ControlAt(left, top);
        return control != nullptr && control->IsClass("Edit") ? control : nullptr;
    };
    auto button = [&](int left, int top) {
        const ControlReport* control = report.ControlAt(left, top);
        return control != nullptr && control->IsClass("BoutonLMX") ? control : nullptr;
    };
    UpdaterItems items;
    items.vLocale = edit(327, 12);
    items.vSite = edit(327, 34);
    items.message = edit(90, 64);
    items.boutonLM1 = button(221, 86);
    items.miseAJour = button(221, 108);
    items.action = button(221, 130);
    return items;
}

} // namespace lumoradex::e2e
