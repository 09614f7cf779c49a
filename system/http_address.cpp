#include "system/http_address.h"

#include <algorithm>
#include <cctype>

namespace lumoradex {
namespace {

constexpr std::string_view kScheme = "http://";

bool StartsWithScheme(std::string_view url) {
    return url.size() >= kScheme.size() &&
           std::equal(kScheme.begin(), kScheme.end(), url.begin(), [](char expected, char actual) {
               return expected == std::tolower(static_cast<unsigned char>(actual));
           });
}

std::optional<std::uint16_t> ParsePort(std::string_view digits) {
    if (digits.empty() || digits.size() > 5)
        return std::nullopt;
    unsigned value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

} // namespace

std::optional<HttpAddress> ParseHttpAddress(std::string_view url) {
    if (!StartsWithScheme(url))
        return std::nullopt;
    url.remove_prefix(kScheme.size());
    const std::size_t slash = url.find('/');
    const std::string_view authority = url.substr(0, slash);
    HttpAddress address;
    if (slash != std::string_view::npos)
        address.path = std::string(url.substr(slash));
    // User names and passwords have no place in the server's addresses.
    if (authority.find('@') != std::string_view::npos)
        return std::nullopt;
    const std::size_t colon = authority.find(':');
    address.host = std::string(authority.substr(0, colon));
    if (address.host.empty())
        return std::nullopt;
    if (colon != std::string_view::npos) {
        const std::optional<std::uint16_t> port = ParsePort(authority.substr(colon + 1));
        if (!port)
            return std::nullopt;
        address.port = *port;
    }
    return address;
}

} // namespace lumoradex
