#pragma once
// The hand-off to an elevated instance of the updater, on its command line: the window that shows
// its progress, and nothing else. The elevated instance installs in the standard installation
// folder only, which it finds itself, so that a forged command line has nothing to choose; it trusts
// the window no further than to send it progress texts. Platform-free.
//
//     /installation-elevee 1a2b3c

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
};

std::string FormatHandOff(const InstallationHandOff& handOff);

// Whether the command line asks for an installation on another instance's behalf, well formed or not.
bool IsHandOff(std::string_view commandLine);

// Nothing unless the whole command line is one well-formed hand-off: the switch and the window in
// hexadecimal.
std::optional<InstallationHandOff> ParseHandOff(std::string_view commandLine);

} // namespace lumoradex
