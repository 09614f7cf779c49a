#include "updater/download_decision.h"

#include <gtest/gtest.h>

namespace lumoradex {
namespace {

TEST(DownloadDecision, ErrorPageBandIncludesBothEnds) {
    EXPECT_EQ(JudgeDownload(149, 0), DownloadVerdict::Install);
    EXPECT_EQ(JudgeDownload(150, 0), DownloadVerdict::RejectedErrorPage);
    EXPECT_EQ(JudgeDownload(200, 0), DownloadVerdict::RejectedErrorPage);
    EXPECT_EQ(JudgeDownload(250, 0), DownloadVerdict::RejectedErrorPage);
    EXPECT_EQ(JudgeDownload(251, 0), DownloadVerdict::Install);
}

TEST(DownloadDecision, BandComesBeforeTheRatio) {
    EXPECT_EQ(JudgeDownload(200, 200), DownloadVerdict::RejectedErrorPage);
    EXPECT_EQ(JudgeDownload(149, 160), DownloadVerdict::Install);
}

TEST(DownloadDecision, RatioStrictlyBetweenHalfAndOneAndAHalf) {
    EXPECT_EQ(JudgeDownload(500, 1000), DownloadVerdict::RejectedSizeRatio);
    EXPECT_EQ(JudgeDownload(501, 1000), DownloadVerdict::Install);
    EXPECT_EQ(JudgeDownload(1000, 1000), DownloadVerdict::Install);
    EXPECT_EQ(JudgeDownload(1499, 1000), DownloadVerdict::Install);
    EXPECT_EQ(JudgeDownload(1500, 1000), DownloadVerdict::RejectedSizeRatio);
    EXPECT_EQ(JudgeDownload(100000, 1000), DownloadVerdict::RejectedSizeRatio);
}

TEST(DownloadDecision, NoOldCopyInstallsAnySizeOutsideTheBand) {
    EXPECT_EQ(JudgeDownload(1, 0), DownloadVerdict::Install);
    EXPECT_EQ(JudgeDownload(5'000'000, 0), DownloadVerdict::Install);
}

TEST(DownloadDecision, EmptyBodyIsRejectedEvenWithoutOldCopy) {
    EXPECT_EQ(JudgeDownload(0, 0), DownloadVerdict::RejectedEmpty);
    EXPECT_EQ(JudgeDownload(0, 1000), DownloadVerdict::RejectedEmpty);
}

TEST(DownloadDecision, SizesBeyondFourGibibytesCompareExactly) {
    constexpr std::int64_t kGiB = 1024LL * 1024 * 1024;
    EXPECT_EQ(JudgeDownload(3 * kGiB, 0), DownloadVerdict::Install);
    EXPECT_EQ(JudgeDownload(5 * kGiB, 4 * kGiB), DownloadVerdict::Install);
    EXPECT_EQ(JudgeDownload(6 * kGiB, 4 * kGiB), DownloadVerdict::RejectedSizeRatio);
    EXPECT_EQ(JudgeDownload(6 * kGiB - 1, 4 * kGiB), DownloadVerdict::Install);
    EXPECT_EQ(JudgeDownload(2 * kGiB, 4 * kGiB), DownloadVerdict::RejectedSizeRatio);
}

} // namespace
} // namespace lumoradex
