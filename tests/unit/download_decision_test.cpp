#include "updater/install/download_decision.h"

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

// Before the body: what a length announced (or not) lets the run read.
TEST(BodyPlan, UnsignedReadsOnlyAnAnnouncedLengthTheSizeTestsAccept) {
    using Decision = BodyPlan::Decision;
    constexpr std::uint64_t kHuge = (std::uint64_t{1} << 63) + 5;
    const struct {
        std::optional<std::uint64_t> announced;
        std::int64_t oldSize;
        std::optional<std::uint64_t> freeBytes;
        Decision decision;
    } cases[] = {
        {std::nullopt, 1000, std::nullopt, Decision::Fail}, {0, 0, std::nullopt, Decision::Decline},
        {200, 0, std::nullopt, Decision::Decline},          {1500, 1000, std::nullopt, Decision::Decline},
        {kHuge, 1000, std::nullopt, Decision::Decline},     {1499, 1000, 10, Decision::Read},
        {999, 0, 1000, Decision::Read},                     {1000, 0, 1000, Decision::Fail},
        {1000, 0, 999, Decision::Fail},                     {kHuge, 0, std::nullopt, Decision::Fail},
        {1000, 0, std::nullopt, Decision::Fail},
    };
    for (const auto& c : cases) {
        const BodyPlan plan = UnsignedBodyPlan(c.announced, c.oldSize, c.freeBytes);
        EXPECT_EQ(plan.decision, c.decision) << c.announced.value_or(0) << " " << c.oldSize;
        if (plan.decision == Decision::Read) {
            EXPECT_EQ(plan.maxBytes, c.announced);
        }
    }
}

TEST(BodyPlan, SignedReadsExactlyTheListedSize) {
    const ReleaseFile listed{{}, 5'000'000'000};
    EXPECT_EQ(SignedBodyPlan(listed, std::nullopt).maxBytes, 5'000'000'000u);
    EXPECT_EQ(SignedBodyPlan(listed, 5'000'000'000u).decision, BodyPlan::Decision::Read);
    EXPECT_EQ(SignedBodyPlan(listed, 5'000'000'001u).decision, BodyPlan::Decision::Fail);
    EXPECT_EQ(SignedBodyPlan(listed, 705'032'704u).decision, BodyPlan::Decision::Fail); // the size modulo 4 GiB
}

} // namespace
} // namespace lumoradex
