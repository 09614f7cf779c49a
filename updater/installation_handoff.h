#pragma once
// The hand-off to an elevated instance of the updater, on its command line: which window shows its
// progress and which working folder it installs the update's files in. The elevated instance
// trusts none of it: the folder must be one the update run itself could work in. Platform-free.
//
//     /installation-elevee 1a2b3c "C:\Program Files\LumoradexV4"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumoradex {

// How the elevated instance ended, as its exit code.
enum class HandOffExit : int {
    Installed = 0,  // every file installed or left out, as in any update run
    FileFailed = 1, // at least one file failed
    Refused = 2,    // the hand-off was not one to act on: nothing was touched
};

struct InstallationHandOff {
    std::uintptr_t progressWindow = 0; // the window of the instance that asked, as a number
    std::string workingFolder;         // an absolute folder on a drive: "X:\..."
};

std::string FormatHandOff(const InstallationHandOff& handOff);

// Whether the command line asks for an installation on another instance's behalf, well formed or not.
bool IsHandOff(std::string_view commandLine);

// Nothing unless the whole command line is one well-formed hand-off: the switch, the window in
// hexadecimal, and an absolute folder on a drive, quoted, without "." or ".." parts.
std::optional<InstallationHandOff> ParseHandOff(std::string_view commandLine);

} // namespace lumoradex
