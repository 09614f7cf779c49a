#include "updater/install/file_download.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace lumoradex {
namespace {

using std::chrono::milliseconds;

AnswerHeaders Partial(std::uint64_t first, std::uint64_t last, std::optional<std::uint64_t> total,
                      std::uint64_t length, std::string validator = "\"v1\"") {
    return {.announcedLength = length, .partial = true, .part = BodyPart{first, last, total}, .validator = validator};
}

TEST(ResumedAnswer, OnlyTheRestOfTheSameBodyIsJoined) {
    const ResumeFrom asked{400, "\"v1\""};
    struct Case {
        const char* what;
        AnswerHeaders answer;
        ResumedAnswer expected;
    };
    const std::vector<Case> cases = {
        {"the rest", Partial(400, 999, 1000, 600), ResumedAnswer::Continues},
        {"another start", Partial(300, 999, 1000, 700), ResumedAnswer::Rejected},
        {"another total", Partial(400, 1199, 1200, 800), ResumedAnswer::Rejected},
        {"unknown total", Partial(400, 999, std::nullopt, 600), ResumedAnswer::Rejected},
        {"short of the end", Partial(400, 899, 1000, 500), ResumedAnswer::Rejected},
        {"length not the range's", Partial(400, 999, 1000, 700), ResumedAnswer::Rejected},
        {"changed validator", Partial(400, 999, 1000, 600, "\"v2\""), ResumedAnswer::Rejected},
        {"validator gone", Partial(400, 999, 1000, 600, ""), ResumedAnswer::Rejected},
        {"no range stated", {.announcedLength = 600, .partial = true, .validator = "\"v1\""}, ResumedAnswer::Rejected},
        {"the whole body", {.announcedLength = 1000, .validator = "\"v2\""}, ResumedAnswer::WholeBody},
    };
    for (const Case& c : cases)
        EXPECT_EQ(JudgeResumedAnswer(c.answer, asked, 1000), c.expected) << c.what;
    // Asked without a validator (a signed file, its digest to prove it), any validator will do.
    EXPECT_EQ(JudgeResumedAnswer(Partial(400, 999, 1000, 600, "\"v9\""), {400, ""}, 1000), ResumedAnswer::Continues);
}

TEST(AttemptBudget, FourFailuresInARowEachThatBroughtNextToNothingCountingTwo) {
    AttemptBudget some;
    std::vector<std::optional<milliseconds>> pauses;
    for (std::uint64_t attempt = 1; attempt <= 4; ++attempt)
        pauses.push_back(some.AfterFailure(AttemptBudget::kSomeBytes, attempt * AttemptBudget::kSomeBytes));
    EXPECT_EQ(pauses, (std::vector<std::optional<milliseconds>>{milliseconds(250), milliseconds(1000),
                                                                 milliseconds(2000), std::nullopt}));
    AttemptBudget little;
    EXPECT_EQ(little.AfterFailure(AttemptBudget::kSomeBytes - 1, AttemptBudget::kSomeBytes - 1), milliseconds(250));
    EXPECT_EQ(little.AfterFailure(0, AttemptBudget::kSomeBytes - 1), std::nullopt);
}

// A connection dropped every few MiB still brings the file, however many drops it takes; one dropped
// at the same byte of every whole answer does not.
TEST(AttemptBudget, OnlyBytesPastTheFurthestHeldAreHeadway) {
    constexpr std::uint64_t kStep = AttemptBudget::kHeadwayBytes;
    AttemptBudget resumed;
    for (std::uint64_t drop = 1; drop <= 100; ++drop)
        ASSERT_EQ(resumed.AfterFailure(kStep, drop * kStep), milliseconds(250)) << drop;
    EXPECT_EQ(resumed.AfterFailure(kStep - 1, 101 * kStep - 1), milliseconds(1000));
    EXPECT_EQ(resumed.AfterFailure(0, 101 * kStep - 1), std::nullopt);

    AttemptBudget restarted;
    EXPECT_EQ(restarted.AfterFailure(8 * kStep, 8 * kStep), milliseconds(250));
    EXPECT_EQ(restarted.AfterFailure(8 * kStep, 8 * kStep), milliseconds(1000));
    EXPECT_EQ(restarted.AfterFailure(8 * kStep, 8 * kStep), milliseconds(2000));
    EXPECT_EQ(restarted.AfterFailure(8 * kStep, 8 * kStep), std::nullopt);
}

} // namespace
} // namespace lumoradex
