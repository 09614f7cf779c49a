#pragma once
// Whether a downloaded file may replace the installed one, judged by its size alone. Platform-free.

#include <cstdint>

namespace lumoradex {

enum class DownloadVerdict {
    Install,
    RejectedEmpty,     // an empty body is never a file of the application
    RejectedErrorPage, // the size of the error page the server sends for a missing file
    RejectedSizeRatio, // too far from the installed copy's size to be the same file
};

// newSize: bytes downloaded; oldSize: length of the installed copy, 0 when there is none.
DownloadVerdict JudgeDownload(std::int64_t newSize, std::int64_t oldSize);

} // namespace lumoradex
