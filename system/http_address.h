#pragma once
// The parts of an http address that a request needs: host, port and the path with its query.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumoradex {

struct HttpAddress {
    std::string host;
    std::uint16_t port = 80;
    std::string path = "/";
};

// Nothing for an address that is not "http://host[:port][/path]".
std::optional<HttpAddress> ParseHttpAddress(std::string_view url);

} // namespace lumoradex
