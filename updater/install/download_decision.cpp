#include "updater/install/download_decision.h"

#include <algorithm>

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

// Whatever the server then sends, no more than the announced length is read. A body that could never
// be installed is left unread: one the size tests reject is left out as it would be once downloaded;
// one with no length to prove it fails, and so does one where nothing it would replace frees room,
// unless it leaves room to spare on the disk: a disk filled to its last byte fails the files written
// after it, and one whose free space cannot be read may be full already.
BodyPlan UnsignedBodyPlan(std::optional<std::uint64_t> announced, std::int64_t oldSize,
                          std::optional<std::uint64_t> roomBytes) {
    using Decision = BodyPlan::Decision;
    if (!announced)
        return {Decision::Fail, std::nullopt};
    const auto newSize = static_cast<std::int64_t>(std::min<std::uint64_t>(*announced, INT64_MAX));
    if (JudgeDownload(newSize, oldSize) != DownloadVerdict::Install)
        return {Decision::Decline, std::nullopt};
    if (oldSize == 0 && (!roomBytes || *announced >= *roomBytes))
        return {Decision::Fail, std::nullopt};
    return {Decision::Read, announced};
}

// A length that differs from the list's fails before any byte is written, and a body that goes on
// past the list's size fails at its first extra byte.
BodyPlan SignedBodyPlan(const ReleaseFile& listed, std::optional<std::uint64_t> announced) {
    const auto size = static_cast<std::uint64_t>(listed.size);
    if (announced && *announced != size)
        return {BodyPlan::Decision::Fail, std::nullopt};
    return {BodyPlan::Decision::Read, size};
}

} // namespace lumoradex
