#include "updater/installation_handoff.h"

#include <algorithm>
#include <charconv>

namespace lumoradex {
namespace {

constexpr std::string_view kSwitch = "/installation-elevee ";
constexpr std::size_t kMaxFolderLength = 259; // MAX_PATH without its terminator

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "X:\" and then names separated by single backslashes: no relative, device or network path, no
// "." or ".." part, none of the characters Windows forbids in names.
bool IsAbsoluteDriveFolder(std::string_view folder) {
    if (folder.size() < 3 || folder.size() > kMaxFolderLength || !IsDriveLetter(folder[0]) || folder[1] != ':' ||
        folder[2] != '\\' || (folder.size() > 3 && folder.back() == '\\'))
        return false;
    std::string_view rest = folder.substr(3);
    while (!rest.empty()) {
        const std::size_t end = rest.find('\\');
        const std::string_view part = rest.substr(0, end);
        if (part.empty() || part == "." || part == ".." ||
            std::ranges::any_of(part, [](char c) {
                return static_cast<unsigned char>(c) < 32 || std::string_view("<>:\"/|?*").find(c) != std::string_view::npos;
            }))
            return false;
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    return true;
}

} // namespace

std::string FormatHandOff(const InstallationHandOff& handOff) {
    char window[2 * sizeof(std::uintptr_t) + 1] = {};
    const auto converted = std::to_chars(window, window + sizeof window - 1, handOff.progressWindow, 16);
    return std::string(kSwitch) + std::string(window, converted.ptr) + " \"" + handOff.workingFolder + "\"";
}

bool IsHandOff(std::string_view commandLine) { return commandLine.starts_with(kSwitch.substr(0, kSwitch.size() - 1)); }

std::optional<InstallationHandOff> ParseHandOff(std::string_view commandLine) {
    if (!commandLine.starts_with(kSwitch))
        return std::nullopt;
    commandLine.remove_prefix(kSwitch.size());
    InstallationHandOff handOff;
    const auto [end, error] =
        std::from_chars(commandLine.data(), commandLine.data() + commandLine.size(), handOff.progressWindow, 16);
    const std::string_view rest = commandLine.substr(static_cast<std::size_t>(end - commandLine.data()));
    if (error != std::errc() || end == commandLine.data() || !rest.starts_with(" \"") || !rest.ends_with('"') ||
        rest.size() < 3)
        return std::nullopt;
    handOff.workingFolder = std::string(rest.substr(2, rest.size() - 3));
    if (!IsAbsoluteDriveFolder(handOff.workingFolder))
        return std::nullopt;
    return handOff;
}

} // namespace lumoradex
