#include "tests/e2e/wine_session.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include <signal.h>
#include <unistd.h>

#include "tests/e2e/build_paths.h"

namespace lumoradex::e2e {
namespace {

namespace fs = std::filesystem;

// session.sh env prints one line: export NAME='value' NAME=value ...
std::vector<std::pair<std::string, std::string>> ParseExports(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> variables;
    size_t position = text.find("export ");
    if (position == std::string::npos)
        return variables;
    position += 7;
    while (position < text.size()) {
        while (position < text.size() && std::isspace(static_cast<unsigned char>(text[position])))
            ++position;
        size_t equals = text.find('=', position);
        if (equals == std::string::npos)
            break;
        std::string name = text.substr(position, equals - position);
        std::string value;
        position = equals + 1;
        if (position < text.size() && text[position] == '\'') {
            size_t end = text.find('\'', position + 1);
            value = text.substr(position + 1, end - position - 1);
            position = end == std::string::npos ? text.size() : end + 1;
        } else {
            size_t end = text.find_first_of(" \t\n", position);
            if (end == std::string::npos)
                end = text.size();
            value = text.substr(position, end - position);
            position = end;
        }
        variables.emplace_back(std::move(name), std::move(value));
    }
    return variables;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

fs::path ChildIgnoringCase(const fs::path& folder, const std::string& name) {
    std::error_code error;
    if (fs::exists(folder / name, error))
        return folder / name;
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (SameIgnoringCase(entry.path().filename().string(), name))
            return entry.path();
    return folder / name;
}

std::vector<std::string> ReadNulSeparated(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> items;
    for (std::string item; std::getline(in, item, '\0');)
        items.push_back(item);
    return items;
}

bool IsZombie(const fs::path& process) {
    std::ifstream stat(process / "stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    return close == std::string::npos || line.size() < close + 3 || line[close + 2] == 'Z' || line[close + 2] == 'X';
}

// A Windows program shows its Windows path as its command; a program still starting shows Wine's
// launcher. Wine's services live in C:\windows.
bool RunsAProgram(const std::vector<std::string>& commandLine) {
    if (commandLine.empty())
        return false;
    const std::string& command = commandLine.front();
    const std::string name = fs::path(command).filename().string();
    if (name == "wine" || name == "wine64" || name == "wine-preloader" || name == "wine64-preloader")
        return true;
    const bool windowsPath = command.size() > 2 && std::isalpha(static_cast<unsigned char>(command[0])) &&
                             command[1] == ':' && command[2] == '\\';
    return windowsPath && !SameIgnoringCase(command.substr(0, 11), "C:\\windows\\");
}

} // namespace

const WineSession& WineSession::FromEnvironment() {
    static const std::unique_ptr<WineSession> session = [] {
        const char* state = std::getenv("LUMORADEX_WINE_STATE");
        if (state == nullptr || *state == '\0')
            throw std::runtime_error("LUMORADEX_WINE_STATE is not set: run the tests through ctest, or start a "
                                     "session with 'tests/wine/session.sh start DIR' and set it to DIR");
        return std::make_unique<WineSession>(state);
    }();
    return *session;
}

WineSession::WineSession(fs::path stateFolder) : state_(fs::absolute(std::move(stateFolder))) {
    CommandResult printed = RunCommand({SessionScript().string(), "env", state_.string()}, EnvironmentWith({}), {},
                                       std::chrono::seconds(10));
    if (printed.exitCode != 0)
        throw std::runtime_error("no Wine session in " + state_.string() + ": run 'tests/wine/session.sh start " +
                                 state_.string() + "' first");
    auto variables = ParseExports(printed.output);
    for (const auto& [name, value] : variables) {
        if (name == "WINEPREFIX")
            prefix_ = value;
        else if (name == "DISPLAY")
            display_ = value;
        else if (name == "WINELOADER")
            loader_ = value;
    }
    if (prefix_.empty() || display_.empty() || loader_.empty())
        throw std::runtime_error("session.sh env printed no WINEPREFIX, DISPLAY or WINELOADER: " + printed.output);
    environment_ = EnvironmentWith(variables);
}

fs::path WineSession::ToLinux(std::string_view windowsPath) const {
    if (windowsPath.size() < 2 || windowsPath[1] != ':' || !std::isalpha(static_cast<unsigned char>(windowsPath[0])))
        throw std::invalid_argument("not a Windows path with a drive: " + std::string(windowsPath));
    const std::string drive(1, static_cast<char>(std::tolower(static_cast<unsigned char>(windowsPath[0]))));
    std::error_code error;
    fs::path path = fs::canonical(prefix_ / "dosdevices" / (drive + ":"), error);
    if (error)
        throw std::invalid_argument("drive " + drive + ": is not mapped in " + prefix_.string());
    size_t start = 2;
    while (start < windowsPath.size()) {
        size_t end = windowsPath.find_first_of("\\/", start);
        if (end == std::string_view::npos)
            end = windowsPath.size();
        std::string component(windowsPath.substr(start, end - start));
        if (component == "..")
            path = path.parent_path();
        else if (!component.empty() && component != ".")
            path = ChildIgnoringCase(path, component);
        start = end + 1;
    }
    return path;
}

std::string WineSession::ToWindows(const fs::path& linuxPath) const {
    const fs::path target = fs::weakly_canonical(fs::absolute(linuxPath));
    std::string bestDrive;
    fs::path bestRoot;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(prefix_ / "dosdevices", error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() != 2 || name[1] != ':')
            continue;
        fs::path root = fs::canonical(entry.path(), error);
        if (error)
            continue;
        auto mismatch = std::mismatch(root.begin(), root.end(), target.begin(), target.end());
        const bool holds = mismatch.first == root.end();
        if (holds && (bestDrive.empty() || root.string().size() > bestRoot.string().size())) {
            bestDrive = name;
            bestRoot = root;
        }
    }
    if (bestDrive.empty())
        throw std::invalid_argument("no drive holds " + target.string());
    std::string windows(1, static_cast<char>(std::toupper(static_cast<unsigned char>(bestDrive[0]))));
    windows += ":";
    fs::path relative = target.lexically_relative(bestRoot);
    for (const auto& component : relative) {
        if (component == ".")
            continue;
        windows += "\\" + component.string();
    }
    if (windows.size() == 2)
        windows += "\\";
    return windows;
}

} // namespace lumoradex::e2e

namespace lumoradex::e2e {

std::vector<pid_t> WineSession::ProgramProcesses() const {
    const std::string prefixVariable = "WINEPREFIX=" + prefix_.string();
    std::vector<pid_t> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const pid_t pid = static_cast<pid_t>(std::stol(name));
        if (pid == getpid() || !RunsAProgram(ReadNulSeparated(entry.path() / "cmdline")) || IsZombie(entry.path()))
            continue;
        const std::vector<std::string> environment = ReadNulSeparated(entry.path() / "environ");
        if (std::find(environment.begin(), environment.end(), prefixVariable) != environment.end())
            found.push_back(pid);
    }
    return found;
}

void WineSession::EndPrograms() const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (std::vector<pid_t> left = ProgramProcesses(); !left.empty(); left = ProgramProcesses()) {
        for (pid_t pid : left)
            kill(pid, SIGKILL);
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace lumoradex::e2e
