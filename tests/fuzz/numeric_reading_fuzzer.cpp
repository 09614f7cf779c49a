// libFuzzer target: the numeric reading the validity test applies to the published version.
// Besides crashes and sanitizer reports, it stops on any broken property below.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "updater/check/numeric_reading.h"

namespace {

using namespace lumoradex;

void Require(bool holds) {
    if (!holds)
        std::abort();
}

bool SameReading(const std::optional<double>& a, const std::optional<double>& b) {
    return a.has_value() == b.has_value() && (!a || *a == *b);
}

// Plain whole numbers short enough to be exact in a double read as themselves.
void CheckPlainDigits(std::string_view text, const std::optional<double>& reading) {
    if (text.empty() || text.size() > 15 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return;
    Require(reading && *reading == static_cast<double>(std::stoull(std::string(text))));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<double> reading = NumericReading(text);
    // A reading is a number (never NaN nor infinite); a huge one has none at all.
    if (reading)
        Require(std::isfinite(*reading));
    CheckPlainDigits(text, reading);
    // Spaces, tabs and line feeds count nowhere, not even inside a number.
    if (!text.empty()) {
        std::string spaced(text);
        spaced.insert(size / 2, " \t\n");
        Require(SameReading(NumericReading(spaced), reading));
    }
    // Whatever follows a leading number does not change its reading.
    if (reading && !text.empty() && text.find_first_of("&eEdD") == std::string_view::npos)
        Require(SameReading(NumericReading(std::string(text) + "x1"), reading));
    return 0;
}
