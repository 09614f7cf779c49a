#include "system/net/range_headers.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>

namespace lumoradex {
namespace {

constexpr std::size_t kMaxValidatorLength = 256;

// Digits only, at least one, within 64 bits.
std::optional<std::uint64_t> Decimal(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char digit : text) {
        const auto next = static_cast<std::uint64_t>(digit - '0');
        if (digit < '0' || digit > '9' || value > (UINT64_MAX - next) / 10)
            return std::nullopt;
        value = value * 10 + next;
    }
    return value;
}

bool EqualsIgnoringCase(std::string_view text, std::string_view lower) {
    return std::ranges::equal(text, lower, [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b; });
}

// An opaque tag in quotes, not marked weak ("W/"): only a strong tag may condition a range.
bool IsStrongEntityTag(std::string_view tag) {
    if (tag.size() < 2 || tag.size() > kMaxValidatorLength || tag.front() != '"' || tag.back() != '"')
        return false;
    return std::ranges::all_of(tag.substr(1, tag.size() - 2),
                               [](char c) { return c == 0x21 || (c >= 0x23 && c <= 0x7e); });
}

// The fixed-length date servers send ("Sun, 06 Nov 1994 08:49:37 GMT"), in seconds; the obsolete
// forms are no validator to rely on.
std::optional<std::chrono::sys_seconds> ImfFixdate(std::string_view text) {
    static constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (text.size() != 29 || text.substr(3, 2) != ", " || text[7] != ' ' || text[11] != ' ' || text[16] != ' ' ||
        text[19] != ':' || text[22] != ':' || text.substr(25) != " GMT")
        return std::nullopt;
    const auto month = std::ranges::find(kMonths, text.substr(8, 3));
    const auto day = Decimal(text.substr(5, 2));
    const auto year = Decimal(text.substr(12, 4));
    const auto hours = Decimal(text.substr(17, 2));
    const auto minutes = Decimal(text.substr(20, 2));
    const auto seconds = Decimal(text.substr(23, 2));
    if (month == kMonths.end() || !day || !year || !hours || !minutes || !seconds || *hours > 23 || *minutes > 59 ||
        *seconds > 60)
        return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(static_cast<int>(*year)),
                                           std::chrono::month(static_cast<unsigned>(month - kMonths.begin() + 1)),
                                           std::chrono::day(static_cast<unsigned>(*day))};
    if (!date.ok())
        return std::nullopt;
    return std::chrono::sys_days(date) + std::chrono::hours(*hours) + std::chrono::minutes(*minutes) +
           std::chrono::seconds(*seconds);
}

} // namespace

std::string ResumeHeaders(const ResumeFrom& resume) {
    std::string headers = "Range: bytes=" + std::to_string(resume.offset) + "-\r\n";
    if (!resume.validator.empty())
        headers += "If-Range: " + resume.validator + "\r\n";
    return headers;
}

std::optional<BodyPart> ParseContentRange(std::string_view value) {
    if (value.size() < 6 || !EqualsIgnoringCase(value.substr(0, 5), "bytes") || value[5] != ' ')
        return std::nullopt;
    const std::string_view resp = value.substr(6);
    const std::size_t dash = resp.find('-');
    const std::size_t slash = resp.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || dash > slash)
        return std::nullopt;
    const std::optional<std::uint64_t> first = Decimal(resp.substr(0, dash));
    const std::optional<std::uint64_t> last = Decimal(resp.substr(dash + 1, slash - dash - 1));
    const std::string_view totalText = resp.substr(slash + 1);
    const std::optional<std::uint64_t> total = totalText == "*" ? std::nullopt : Decimal(totalText);
    if (!first || !last || *last < *first || (totalText != "*" && (!total || *last >= *total)))
        return std::nullopt;
    return BodyPart{*first, *last, total};
}

// A date is strong only when the body cannot have changed again within the same second without the
// date changing: it must come a second or more before the answer was made.
std::string ValidatorOf(std::optional<std::string_view> entityTag, std::optional<std::string_view> lastModified,
                        std::optional<std::string_view> date) {
    if (entityTag)
        return IsStrongEntityTag(*entityTag) ? std::string(*entityTag) : std::string();
    if (!lastModified || !date)
        return {};
    const auto modified = ImfFixdate(*lastModified);
    const auto answered = ImfFixdate(*date);
    if (!modified || !answered || *answered - *modified < std::chrono::seconds(1))
        return {};
    return std::string(*lastModified);
}

} // namespace lumoradex
