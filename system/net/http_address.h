#pragma once
// The parts of an http or https address that a request needs: whether it is secure, host, port
// and the path with its query; and the rule for following a redirect from one address to another.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumoradex {

struct HttpAddress {
    bool secure = false; // https: TLS with the platform's certificate checks
    std::string host;
    std::uint16_t port = 80;
    std::string path = "/";
};

// Nothing for an address that is not "http://host[:port][/path][?query]" or the same with "https://"
// (port 80 and 443 by default); IPv6 literals are refused.
std::optional<HttpAddress> ParseHttpAddress(std::string_view url);

// Where a redirect's Location sends a request made to from: an absolute address, one without its
// scheme ("//host/path"), a path from the root or a path relative to from's. Nothing when the
// location is none of these.
std::optional<HttpAddress> RedirectTarget(const HttpAddress& from, std::string_view location);

// A redirect never leaves TLS once it has been used: http may move to https (a server that moved
// keeps working for programs built with its old address) or stay http, https stays https, on any
// host, whose certificate is checked like the first.
bool MayFollowRedirect(const HttpAddress& from, const HttpAddress& to);

} // namespace lumoradex
