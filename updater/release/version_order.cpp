#include "updater/release/version_order.h"

#include <algorithm>

namespace lumoradex {
namespace {

// The whole number a part starts with, as its digits without leading zeros; no digit reads as 0.
// Kept as text so that a part of any length compares without overflow.
std::string_view PartDigits(std::string_view part) {
    std::size_t end = 0;
    while (end < part.size() && part[end] >= '0' && part[end] <= '9')
        ++end;
    std::size_t start = 0;
    while (start < end && part[start] == '0')
        ++start;
    return part.substr(start, end - start);
}

int CompareParts(std::string_view a, std::string_view b) {
    const std::string_view x = PartDigits(a);
    const std::string_view y = PartDigits(b);
    if (x.size() != y.size())
        return x.size() < y.size() ? -1 : 1;
    const int order = x.compare(y);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

// Splits off the text up to the next "." (the rest after it); an exhausted text yields empty parts.
std::string_view TakePart(std::string_view& rest) {
    const std::size_t dot = rest.find('.');
    const std::string_view part = rest.substr(0, dot);
    rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
    return part;
}

} // namespace

int CompareVersions(std::string_view a, std::string_view b) {
    while (!a.empty() || !b.empty()) {
        const std::string_view partA = TakePart(a);
        const std::string_view partB = TakePart(b);
        if (const int order = CompareParts(partA, partB); order != 0)
            return order;
    }
    return 0;
}

bool IsOlderVersion(std::string_view installed, std::string_view published) {
    return CompareVersions(installed, published) < 0;
}

} // namespace lumoradex
