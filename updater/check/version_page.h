#pragma once
// Where the version page publishes the latest version: after the marker "Lumoradex V".

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace lumoradex {

// Offset of the first, case-sensitive occurrence of the marker; nothing when absent.
std::optional<std::size_t> FindVersionMarker(std::string_view page);

// The published version: the digits and "." that follow the marker, or, without a marker,
// characters 11 to 15 of the page (which the validity test then rejects).
std::string PublishedVersion(std::string_view page, std::optional<std::size_t> marker);

} // namespace lumoradex
