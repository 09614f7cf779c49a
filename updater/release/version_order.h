#pragma once
// The order of version texts such as "4.2.15": part by part as whole numbers, a missing part
// counting as 0, so "4.2" equals "4.2.0" and "4.9.3" comes before "4.10.2".

#include <string_view>

namespace lumoradex {

// Negative when a comes first, 0 when both name the same version, positive when b comes first.
int CompareVersions(std::string_view a, std::string_view b);

// An update is available when the installed version comes before the published one.
bool IsOlderVersion(std::string_view installed, std::string_view published);

} // namespace lumoradex
