#include "updater/install/installation_handoff.h"

#include <charconv>

namespace lumoradex {
namespace {

constexpr std::string_view kSwitch = "/installation-elevee ";

} // namespace

std::string FormatHandOff(const InstallationHandOff& handOff) {
    char window[2 * sizeof(std::uintptr_t) + 1] = {};
    const auto converted = std::to_chars(window, window + sizeof window - 1, handOff.progressWindow, 16);
    return std::string(kSwitch) + std::string(window, converted.ptr);
}

bool IsHandOff(std::string_view commandLine) { return commandLine.starts_with(kSwitch.substr(0, kSwitch.size() - 1)); }

std::optional<InstallationHandOff> ParseHandOff(std::string_view commandLine) {
    if (!commandLine.starts_with(kSwitch))
        return std::nullopt;
    commandLine.remove_prefix(kSwitch.size());
    InstallationHandOff handOff;
    const char* const last = commandLine.data() + commandLine.size();
    const auto [end, error] = std::from_chars(commandLine.data(), last, handOff.progressWindow, 16);
    if (error != std::errc() || end == commandLine.data() || end != last)
        return std::nullopt;
    return handOff;
}

} // namespace lumoradex
