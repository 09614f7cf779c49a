#pragma once
// A file of a release made from its installed copy and a VCDIFF patch, both read through the files,
// never whole in memory: one window of the patch and one of the new file at a time. Platform-free.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "updater/ports/installation_files.h"

namespace lumoradex {

// The largest window a patch may have; the maker's patches use 8 MiB windows.
inline constexpr std::size_t kMaxPatchWindow = 8 * 1024 * 1024;

// Hands the new file to write, window by window. Throws when the patch is refused (not VCDIFF, past
// its bounds, a window larger than the limit, a new file larger than resultSize) or a read fails;
// part of the new file may have been written by then.
void ApplyPatch(FileReader& patch, FileReader& installedCopy, std::uint64_t resultSize,
                const std::function<void(const std::byte* data, std::size_t size)>& write);

} // namespace lumoradex
