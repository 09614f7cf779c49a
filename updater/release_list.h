#pragma once
// The signed list of a release: its version, then the SHA-256 and size of each file it publishes.
// Its text, exactly as signed:
//     version 4.2.1
//     <64 lower-case hex digits> <size in bytes> <bare name>
//     ...
// one line per file, lines ending in LF. Platform-free.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace lumoradex {

inline constexpr std::size_t kMaxReleaseListSize = 64 * 1024;

using Sha256Digest = std::array<std::uint8_t, 32>;

struct ReleaseFile {
    Sha256Digest sha256;
    std::int64_t size;
};

struct ReleaseList {
    std::string version;
    std::map<std::string, ReleaseFile, std::less<>> files; // by bare name, each one of the update's files
};

// Nothing when the text is not a well-formed list: too long, a line that does not parse, a name
// that is not one of the update's files, or a name listed twice.
std::optional<ReleaseList> ParseReleaseList(std::string_view text);

// A signed release may repair the installed version but never take it back to an older one.
bool MayInstallRelease(std::string_view releaseVersion, std::string_view installedVersion);

} // namespace lumoradex
