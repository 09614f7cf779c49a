#include "updater/download_decision.h"

namespace lumoradex {
namespace {

constexpr std::int64_t kErrorPageSize = 200;
constexpr std::int64_t kErrorPageTolerance = 50;
constexpr double kMaxDeviationPercent = 50.0;

// The server answers a request for a missing file with a page of about 200 bytes, which no file of
// the application comes close to: anything within 50 bytes of it, both ends included, is that page.
bool LooksLikeErrorPage(std::int64_t size) {
    const std::int64_t distance = size > kErrorPageSize ? size - kErrorPageSize : kErrorPageSize - size;
    return distance <= kErrorPageTolerance;
}

// A new release changes a file's size by less than half in either direction; a download that
// halves or grows it by half is taken for a broken or foreign file.
bool SizeRatioPlausible(std::int64_t newSize, std::int64_t oldSize) {
    const double percent = static_cast<double>(newSize) / static_cast<double>(oldSize) * 100.0;
    const double deviation = percent > 100.0 ? percent - 100.0 : 100.0 - percent;
    return deviation < kMaxDeviationPercent;
}

} // namespace

// The error-page band is tested first, so a 200-byte file is rejected even when its old copy has
// 200 bytes too. An absent or empty old copy gives no size to compare with: any other size installs.
DownloadVerdict JudgeDownload(std::int64_t newSize, std::int64_t oldSize) {
    if (newSize == 0)
        return DownloadVerdict::RejectedEmpty;
    if (LooksLikeErrorPage(newSize))
        return DownloadVerdict::RejectedErrorPage;
    if (oldSize > 0 && !SizeRatioPlausible(newSize, oldSize))
        return DownloadVerdict::RejectedSizeRatio;
    return DownloadVerdict::Install;
}

} // namespace lumoradex
