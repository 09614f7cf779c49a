#pragma once
// The build tree's Wine session (tests/wine/session.sh): its prefix, display and variables, and
// the mapping between Windows paths and the Linux files behind them.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tests/e2e/process.h"

namespace lumoradex::e2e {

class WineSession {
public:
    // The session named by LUMORADEX_WINE_STATE (set by ctest); throws when it is unset or not running.
    static const WineSession& FromEnvironment();
    // A running session's state folder; reads its variables through "session.sh env".
    explicit WineSession(std::filesystem::path stateFolder);

    const std::filesystem::path& StateFolder() const { return state_; }
    const std::filesystem::path& Prefix() const { return prefix_; }
    const std::string& Display() const { return display_; }
    // Wine's loader for the session's side (WINELOADER): the command that runs a Windows program.
    const std::string& Loader() const { return loader_; }
    // The driver's environment plus the session's variables: run the loader or X tools with it.
    const Environment& Variables() const { return environment_; }

    // "C:\Program Files\x" -> <prefix>/drive_c/Program Files/x, through the prefix's drive table.
    // Each existing component is matched without regard to letter case, as Windows does; missing
    // components keep the spelling given.
    std::filesystem::path ToLinux(std::string_view windowsPath) const;
    // The Windows path of a Linux file: the drive whose folder holds it (C: before Z:).
    std::string ToWindows(const std::filesystem::path& linuxPath) const;

    // Linux processes that run Windows programs in this session's prefix, Wine's own services
    // (C:\windows\...) and the wineserver excepted; also those a program started, which Wine puts
    // in a process group and session of their own.
    std::vector<pid_t> ProgramProcesses() const;
    // Kills them all and waits (up to 5 s) until they are gone.
    void EndPrograms() const;

private:
    std::filesystem::path state_;
    std::filesystem::path prefix_;
    std::string display_;
    std::string loader_;
    Environment environment_;
};

} // namespace lumoradex::e2e
