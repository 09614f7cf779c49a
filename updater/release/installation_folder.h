#pragma once
// The application's standard installation: its folder and its executable there.

#include <string_view>

namespace lumoradex {

inline constexpr std::string_view kInstallationFolder = "C:\\Program Files\\LumoradexV4";
// The application's executable, by its bare name.
inline constexpr std::string_view kApplicationExecutable = "Velmor.exe";
inline constexpr std::string_view kInstalledExecutable = "C:\\Program Files\\LumoradexV4\\Velmor.exe";
// The updater the installation holds: the only program an elevation may start, since no standard
// user may change it there.
inline constexpr std::string_view kInstalledUpdater = "C:\\Program Files\\LumoradexV4\\MAJLumoradex.exe";

} // namespace lumoradex
