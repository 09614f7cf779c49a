#include "updater/check/version_check.h"

#include <gtest/gtest.h>

namespace lumoradex {
namespace {

constexpr std::optional<std::size_t> kMarker = 12;

TEST(VersionCheck, TwoReadableVersionsAndAMarkerCanBeCompared) {
    EXPECT_FALSE(IsCheckImpossible("4.2.0", "4.2.1", kMarker));
    EXPECT_FALSE(IsCheckImpossible("4.2.1", "4.2", kMarker));
    EXPECT_FALSE(IsCheckImpossible("0.0.1", "4.2.1", kMarker));
}

TEST(VersionCheck, UnreadableVersionsMakeItImpossible) {
    EXPECT_TRUE(IsCheckImpossible("0.0.0", "4.2.1", kMarker));
    EXPECT_TRUE(IsCheckImpossible("4.2.1", "0.0.0", kMarker));
}

TEST(VersionCheck, EmptyOrBlankVersionsMakeItImpossible) {
    EXPECT_TRUE(IsCheckImpossible("", "4.2.1", kMarker));
    EXPECT_TRUE(IsCheckImpossible("   ", "4.2.1", kMarker));
    EXPECT_TRUE(IsCheckImpossible("4.2.1", "", kMarker));
    EXPECT_TRUE(IsCheckImpossible("4.2.1", "  ", kMarker));
}

TEST(VersionCheck, APublishedVersionReadingAsZeroMakesItImpossible) {
    EXPECT_TRUE(IsCheckImpossible("4.2.1", "0.0.1", kMarker));
    EXPECT_TRUE(IsCheckImpossible("4.2.1", "0.00", kMarker));
    EXPECT_TRUE(IsCheckImpossible("4.2.1", "V4.2.", kMarker));
    EXPECT_FALSE(IsCheckImpossible("4.2.1", "0.1", kMarker));
}

TEST(VersionCheck, APublishedVersionTooLargeToReadMakesItImpossible) {
    EXPECT_TRUE(IsCheckImpossible("4.2.1", "9e999", kMarker));
}

TEST(VersionCheck, APageWithoutMarkerMakesItImpossible) {
    EXPECT_TRUE(IsCheckImpossible("4.2.0", "4.2.1", std::nullopt));
    EXPECT_FALSE(IsCheckImpossible("4.2.0", "4.2.1", 0));
}

} // namespace
} // namespace lumoradex
