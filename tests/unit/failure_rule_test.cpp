#include "base/failure_rule.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "base/step_failure.h"

namespace lumoradex {
namespace {

TEST(FailureRule, FailingStepIsSkippedAndTheNextOneRuns) {
    std::vector<int> ran;
    EXPECT_FALSE(SkipOnFailure([&] {
        ran.push_back(1);
        throw StepFailure("CopyFile", 5);
        ran.push_back(2);
    }));
    EXPECT_TRUE(SkipOnFailure([&] { ran.push_back(3); }));
    EXPECT_EQ(ran, (std::vector<int>{1, 3}));
}

TEST(FailureRule, FailingBranchTestEntersTheBranch) {
    EXPECT_TRUE(HoldsUnlessFailed([]() -> bool { throw std::runtime_error("drive not ready"); }));
    EXPECT_TRUE(HoldsUnlessFailed([] { return true; }));
    EXPECT_FALSE(HoldsUnlessFailed([] { return false; }));
}

TEST(FailureRule, StepFailureNamesTheOperationAndCode) {
    StepFailure failure("MoveFileExW", 32);
    EXPECT_EQ(failure.Code(), 32u);
    EXPECT_STREQ(failure.what(), "MoveFileExW failed (32)");
}

} // namespace
} // namespace lumoradex
