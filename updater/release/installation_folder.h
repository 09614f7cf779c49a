#pragma once
// The application's standard installation: its folder and its executable there.

#include <string_view>

namespace lumoradex {

inline constexpr std::string_view kInstallationFolder = "C:\\Program Files\\LumoradexV4";
// The application's executable, by its bare name.
inline constexpr std::string_view kApplicationExecutable = "Velmor.exe";
inline constexpr std::string_view kInstalledExecutable = "C:\\Program Files\\LumoradexV4\\Velmor.exe";

} // namespace lumoradex
