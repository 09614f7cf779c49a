#pragma once
// Whether a downloaded file may replace the installed one, judged by its size alone, and what is read
// of its body before any byte of it arrives. Platform-free.

#include <cstdint>
#include <optional>

#include "updater/ports/transfer.h"
#include "updater/release/release_list.h"

namespace lumoradex {

enum class DownloadVerdict {
    Install,
    RejectedEmpty,     // an empty body is never a file of the application
    RejectedErrorPage, // the size of the error page the server sends for a missing file
    RejectedSizeRatio, // too far from the installed copy's size to be the same file
};

// newSize: bytes downloaded; oldSize: length of the installed copy, 0 when there is none.
DownloadVerdict JudgeDownload(std::int64_t newSize, std::int64_t oldSize);

// Unsigned: only a body whose length is announced can be proven whole, and that length is judged as
// the body would be. oldSize: as for JudgeDownload; roomBytes: the free space left for each copy the
// run writes of it, on the disks they go to, if known.
BodyPlan UnsignedBodyPlan(std::optional<std::uint64_t> announced, std::int64_t oldSize,
                          std::optional<std::uint64_t> roomBytes);

// Signed: the body must be exactly the file's listed size, announced or not.
BodyPlan SignedBodyPlan(const ReleaseFile& listed, std::optional<std::uint64_t> announced);

} // namespace lumoradex
