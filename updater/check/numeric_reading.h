#pragma once
// The numeric reading of a text that the validity test of the version check applies to the
// published version: the value of the longest leading part that forms a number.

#include <optional>
#include <string_view>

namespace lumoradex {

// 0 when no number leads; nothing when the number is too large to represent.
std::optional<double> NumericReading(std::string_view text);

} // namespace lumoradex
