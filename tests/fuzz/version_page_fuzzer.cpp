// libFuzzer target: the version check's reading of the version page and its order of versions.
// Input: the installed version, a line feed, a second version to order against, a line feed, then
// the page itself. Besides crashes and sanitizer reports, it stops on any broken property below.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "updater/check/version_check.h"
#include "updater/check/version_page.h"
#include "updater/release/version_order.h"

namespace {

using namespace lumoradex;

constexpr std::string_view kMarker = "Lumoradex V";

void Require(bool holds) {
    if (!holds)
        std::abort();
}

std::string_view NextLine(std::string_view& rest) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    return line;
}

bool IsVersionText(std::string_view text) {
    return text.find_first_not_of("0123456789.") == std::string_view::npos;
}

void CheckPublishedVersion(std::string_view page) {
    const std::optional<std::size_t> marker = FindVersionMarker(page);
    const std::string vSite = PublishedVersion(page, marker);
    if (marker) {
        Require(page.substr(*marker, kMarker.size()) == kMarker);
        Require(page.substr(0, *marker + kMarker.size() - 1).find(kMarker) == std::string_view::npos);
        Require(IsVersionText(vSite));
        Require(vSite.empty() || vSite.back() != '.');
        Require(page.substr(*marker + kMarker.size()).starts_with(vSite));
    } else {
        Require(page.find(kMarker) == std::string_view::npos);
        Require(vSite == page.substr(std::min<std::size_t>(page.size(), 10), 5));
    }
}

// A reflexive, antisymmetric and transitive order, blind to trailing ".0" parts.
void CheckOrder(std::string_view a, std::string_view b, std::string_view c) {
    Require(CompareVersions(a, a) == 0);
    const int ab = CompareVersions(a, b);
    Require(ab >= -1 && ab <= 1);
    Require(CompareVersions(b, a) == -ab);
    Require(IsOlderVersion(a, b) == (ab < 0));
    const int bc = CompareVersions(b, c);
    if (ab == bc)
        Require(CompareVersions(a, c) == ab);
    if (a.empty() || a.back() != '.')
        Require(CompareVersions(a, std::string(a) + ".0") == 0);
}

// The whole check as the load handler makes it: the page's reading, then the verdict.
void CheckVerdict(std::string_view installed, std::string_view page) {
    const std::optional<std::size_t> marker = FindVersionMarker(page);
    const std::string vSite = PublishedVersion(page, marker);
    const bool impossible = IsCheckImpossible(installed, vSite, marker);
    if (!marker || installed == "0.0.0" || vSite.empty())
        Require(impossible);
    if (!impossible)
        (void)IsOlderVersion(installed, vSite);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const std::string_view installed = NextLine(rest);
    const std::string_view other = NextLine(rest);
    const std::string_view page = rest;
    CheckPublishedVersion(page);
    CheckVerdict(installed, page);
    CheckOrder(installed, other, PublishedVersion(page, FindVersionMarker(page)));
    return 0;
}
