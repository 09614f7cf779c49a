#include "updater/check/version_page.h"

#include <algorithm>

namespace lumoradex {
namespace {

constexpr std::string_view kMarker = "Lumoradex V";

bool IsVersionCharacter(char c) {
    return (c >= '0' && c <= '9') || c == '.';
}

} // namespace

std::optional<std::size_t> FindVersionMarker(std::string_view page) {
    const std::size_t found = page.find(kMarker);
    if (found == std::string_view::npos)
        return std::nullopt;
    return found;
}

// A fixed width of five characters would cut "4.10.2" to "4.10." and swallow the markup after a
// short "4.2": the whole run of version characters is taken, and a full stop ending a sentence
// ("... Lumoradex V4.2.") is not part of it.
std::string PublishedVersion(std::string_view page, std::optional<std::size_t> marker) {
    if (!marker) {
        // Characters 11 to 15 (counted from 1): where a version would follow a marker found at 0.
        constexpr std::size_t start = kMarker.size() - 1;
        return std::string(page.substr(std::min(page.size(), start), 5));
    }
    std::size_t start = *marker + kMarker.size();
    std::size_t end = start;
    while (end < page.size() && IsVersionCharacter(page[end]))
        ++end;
    while (end > start && page[end - 1] == '.')
        --end;
    return std::string(page.substr(start, end - start));
}

} // namespace lumoradex
