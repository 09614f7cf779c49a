#include "updater/check/version_check.h"

#include "updater/check/numeric_reading.h"

namespace lumoradex {
namespace {

constexpr std::string_view kUnreadableVersion = "0.0.0";

bool IsBlank(std::string_view text) {
    return text.find_first_not_of(' ') == std::string_view::npos;
}

// A number too large to represent leaves the check without an answer, which counts as impossible.
bool ReadsAsZero(std::string_view text) {
    const std::optional<double> value = NumericReading(text);
    return !value || *value == 0.0;
}

} // namespace

bool IsCheckImpossible(std::string_view vLocale, std::string_view vSite, std::optional<std::size_t> marker) {
    // Every condition is evaluated, none short-circuits another.
    const bool conditions[] = {
        vLocale == kUnreadableVersion,
        vSite == kUnreadableVersion,
        IsBlank(vLocale),
        IsBlank(vSite),
        ReadsAsZero(vSite),
        !marker.has_value(),
    };
    bool impossible = false;
    for (bool holds : conditions)
        impossible = impossible || holds;
    return impossible;
}

} // namespace lumoradex
