#pragma once
// The signed list of a release: its version, then the SHA-256 and size of each file it publishes.
// Its text, exactly as signed:
//     version 4.2.1
//     <64 lower-case hex digits> <size in bytes> <bare name>
//     ...
// one line per file, lines ending in LF. Beside it, signed apart so that updaters that know no
// patches still read the release's list, the binary patches it offers from earlier releases:
//     version 4.2.1
//     patch <SHA-256 of the old file> <SHA-256 of the patch> <size of the patch> <bare name>
//     ...
// Platform-free.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "updater/ports/proof_values.h"

namespace lumoradex {

inline constexpr std::size_t kMaxReleaseListSize = 64 * 1024;

struct ReleaseFile {
    Sha256Digest sha256;
    std::int64_t size;
};

// A VCDIFF patch that turns the installed copy whose digest is `from` into the release's file.
struct ReleasePatch {
    Sha256Digest from;
    Sha256Digest sha256; // of the patch itself
    std::int64_t size;
};

// The patches of a release, by bare name.
using PatchList = std::map<std::string, std::vector<ReleasePatch>, std::less<>>;

struct ReleaseList {
    std::string version;
    std::map<std::string, ReleaseFile, std::less<>> files; // by bare name, each one of the update's files
    PatchList patches;                                     // from the release's own proven patch list, if it has one
};

// Nothing when the text is not a well-formed list: too long, a line that does not parse, a name
// that is not one of the update's files, or a name listed twice.
std::optional<ReleaseList> ParseReleaseList(std::string_view text);

// Nothing when the text is not a well-formed patch list of that version, or offers two patches from
// the same old file.
std::optional<PatchList> ParsePatchList(std::string_view text, std::string_view version);

// Where a patch is published, beside the release's files: "patches/<name>/<old digest>.vcdiff".
std::string PatchPath(std::string_view name, const Sha256Digest& from);

// A signed release may repair the installed version but never take it back to an older one.
bool MayInstallRelease(std::string_view releaseVersion, std::string_view installedVersion);

} // namespace lumoradex
