#include "tests/faults/updater_driving.h"

#include <signal.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace lumoradex::e2e {
namespace {

namespace fs = std::filesystem;

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::string FirstArgument(const fs::path& process) {
    std::ifstream in(process / "cmdline", std::ios::binary);
    std::string argument;
    std::getline(in, argument, '\0');
    return argument;
}

bool HasVariable(const fs::path& process, const std::string& assignment) {
    std::ifstream in(process / "environ", std::ios::binary);
    for (std::string variable; std::getline(in, variable, '\0');) {
        if (variable == assignment)
            return true;
    }
    return false;
}

} // namespace

void ClickMiseAJour(const Scenario& scenario, const WindowReport& offer) {
    scenario.Display().Click(offer.ScreenX(298), offer.ScreenY(118));
}

std::string MessageNow(const Scenario& scenario) {
    const std::optional<WindowReport> report = scenario.Inspect();
    if (!report)
        return {};
    const UpdaterItems items = UpdaterItems::Of(*report);
    return items.message != nullptr ? items.message->text : std::string();
}

std::string WaitForResultMessage(const Scenario& scenario, std::chrono::milliseconds timeout) {
    std::string message;
    const bool ended = WaitUntil(
        [&] {
            message = MessageNow(scenario);
            return message.starts_with("T\xC3\xA9l\xC3\xA9"
                                       "chargements");
        },
        timeout, std::chrono::milliseconds(100));
    return ended ? message : std::string();
}

// Wine gives each process its program as its first argument, as it was started (a bare name or a
// Windows path); the prefix in its environment tells the session's processes from those of other
// sessions on the machine.
std::vector<pid_t> FindWineProcesses(const WineSession& session, std::string_view exeName) {
    const std::string wanted = "\\" + Lower(exeName);
    const std::string prefix = "WINEPREFIX=" + session.Prefix().string();
    std::vector<pid_t> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit))
            continue;
        const std::string program = Lower(FirstArgument(entry.path()));
        if ((program == wanted.substr(1) || program.ends_with(wanted)) && HasVariable(entry.path(), prefix))
            found.push_back(static_cast<pid_t>(std::stol(name)));
    }
    return found;
}

std::optional<pid_t> FindWineProcess(const WineSession& session, std::string_view exeName) {
    const std::vector<pid_t> found = FindWineProcesses(session, exeName);
    return found.empty() ? std::nullopt : std::optional<pid_t>(found.front());
}

void KillWineProcesses(const WineSession& session, std::string_view exeName) {
    for (pid_t pid : FindWineProcesses(session, exeName))
        kill(pid, SIGKILL);
    WaitUntil([&] { return FindWineProcesses(session, exeName).empty(); }, std::chrono::seconds(5));
}

} // namespace lumoradex::e2e
