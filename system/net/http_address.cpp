#include "system/net/http_address.h"

#include <algorithm>
#include <cctype>

namespace lumoradex {
namespace {

constexpr std::string_view kPlainScheme = "http://";
constexpr std::string_view kSecureScheme = "https://";
constexpr std::uint16_t kPlainPort = 80;
constexpr std::uint16_t kSecurePort = 443;

bool StartsWithScheme(std::string_view url, std::string_view scheme) {
    return url.size() >= scheme.size() &&
           std::equal(scheme.begin(), scheme.end(), url.begin(), [](char expected, char actual) {
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

// "host[:port][/path][?query][#fragment]", after the scheme. The host ends where the path, the query
// or the fragment begins (RFC 3986, 3.2): "https://host?x=1" names the host "host". A fragment is the
// browser's business and never sent.
std::optional<HttpAddress> ParseAfterScheme(std::string_view rest, bool secure) {
    rest = rest.substr(0, rest.find('#'));
    const std::size_t authorityEnd = rest.find_first_of("/?");
    const std::string_view authority = rest.substr(0, authorityEnd);
    HttpAddress address{secure, {}, secure ? kSecurePort : kPlainPort, "/"};
    if (authorityEnd != std::string_view::npos)
        address.path = (rest[authorityEnd] == '?' ? "/" : "") + std::string(rest.substr(authorityEnd));
    // User names and passwords have no place in the server's addresses. An IPv6 literal ("[::1]") is
    // refused as a whole rather than cut at one of its colons: the update server is named by its host.
    if (authority.find_first_of("@[]") != std::string_view::npos)
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

} // namespace

std::optional<HttpAddress> ParseHttpAddress(std::string_view url) {
    if (StartsWithScheme(url, kPlainScheme))
        return ParseAfterScheme(url.substr(kPlainScheme.size()), false);
    if (StartsWithScheme(url, kSecureScheme))
        return ParseAfterScheme(url.substr(kSecureScheme.size()), true);
    return std::nullopt;
}

// Controls and blanks have no place in a location.
std::optional<HttpAddress> RedirectTarget(const HttpAddress& from, std::string_view location) {
    location = location.substr(0, location.find('#'));
    if (location.empty() || std::ranges::any_of(location, [](char c) { return static_cast<unsigned char>(c) <= ' '; }))
        return std::nullopt;
    if (location.starts_with("//"))
        return ParseAfterScheme(location.substr(2), from.secure);
    if (location.starts_with('/')) {
        HttpAddress target = from;
        target.path = std::string(location);
        return target;
    }
    if (const std::optional<HttpAddress> absolute = ParseHttpAddress(location))
        return absolute;
    if (location.find(':') != std::string_view::npos)
        return std::nullopt; // another scheme
    HttpAddress target = from;
    const std::string folder = from.path.substr(0, from.path.find('?'));
    target.path = folder.substr(0, folder.rfind('/') + 1) + std::string(location);
    return target;
}

bool MayFollowRedirect(const HttpAddress& from, const HttpAddress& to) {
    return to.secure || !from.secure;
}

} // namespace lumoradex
