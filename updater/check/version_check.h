#pragma once
// Whether the installed and the published version can be compared at all.

#include <cstddef>
#include <optional>
#include <string_view>

namespace lumoradex {

// The check is impossible when a version is unreadable ("0.0.0"), empty or blank, when the
// published version reads as the number 0 or as no number at all, or when the page has no marker.
bool IsCheckImpossible(std::string_view vLocale, std::string_view vSite, std::optional<std::size_t> marker);

} // namespace lumoradex
