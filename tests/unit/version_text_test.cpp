#include "updater/check/version_page.h"
#include "updater/release/version_order.h"

#include <gtest/gtest.h>

namespace lumoradex {
namespace {

std::string Published(const std::string& page) {
    return PublishedVersion(page, FindVersionMarker(page));
}

TEST(VersionMarker, IsFoundExactlyAndFirst) {
    EXPECT_EQ(FindVersionMarker("Lumoradex V4.2.1"), 0u);
    EXPECT_EQ(FindVersionMarker("<p>Lumoradex V4.2.1 et Lumoradex V5.0.0</p>"), 3u);
    EXPECT_FALSE(FindVersionMarker("lumoradex v4.2.1").has_value());
    EXPECT_FALSE(FindVersionMarker("LUMORADEX V4.2.1").has_value());
    EXPECT_FALSE(FindVersionMarker("Lumoradex v4.2.1").has_value());
    EXPECT_FALSE(FindVersionMarker("").has_value());
}

TEST(PublishedVersion, IsTheWholeRunOfDigitsAndPointsAfterTheMarker) {
    EXPECT_EQ(Published("<html>Lumoradex V4.2.1</html>"), "4.2.1");
    EXPECT_EQ(Published("Lumoradex V4.10.2 est sortie"), "4.10.2");
    EXPECT_EQ(Published("Lumoradex V4.2.15\r\n"), "4.2.15");
    EXPECT_EQ(Published("Lumoradex V4.2.1 puis Lumoradex V9.9.9"), "4.2.1");
}

TEST(PublishedVersion, PageEndingShortlyAfterTheMarker) {
    EXPECT_EQ(Published("Version : Lumoradex V4.2"), "4.2");
    EXPECT_EQ(Published("Lumoradex V"), "");
}

TEST(PublishedVersion, AFullStopAfterTheVersionIsNotPartOfIt) {
    EXPECT_EQ(Published("Voici Lumoradex V4.2.1."), "4.2.1");
    EXPECT_EQ(Published("Lumoradex V4.2..."), "4.2");
    EXPECT_EQ(Published("Lumoradex V. "), "");
}

TEST(PublishedVersion, WithoutMarkerCharactersElevenToFifteenOfThePage) {
    EXPECT_EQ(Published("<html><body>Erreur 404</body></html>"), "y>Err");
    EXPECT_EQ(Published("lumoradex v4.2.1"), "v4.2.");
    EXPECT_EQ(Published("0123456789AB"), "AB");
    EXPECT_EQ(Published("0123456789"), "");
    EXPECT_EQ(Published(""), "");
}

TEST(VersionOrder, ComparesPartByPartAsWholeNumbers) {
    EXPECT_TRUE(IsOlderVersion("4.9.3", "4.10.2"));
    EXPECT_FALSE(IsOlderVersion("4.10.2", "4.9.3"));
    EXPECT_TRUE(IsOlderVersion("4.2.9", "4.2.15"));
    EXPECT_TRUE(IsOlderVersion("1.0.65534", "1.0.65535"));
    EXPECT_EQ(CompareVersions("4.02.1", "4.2.1"), 0);
    EXPECT_LT(CompareVersions("4.2.1", "123456789012345678901234567890"), 0);
}

TEST(VersionOrder, AMissingPartCountsAsZero) {
    EXPECT_EQ(CompareVersions("4.2", "4.2.0"), 0);
    EXPECT_EQ(CompareVersions("4.2.0", "4.2"), 0);
    EXPECT_EQ(CompareVersions("4", "4.0.0.0"), 0);
    EXPECT_TRUE(IsOlderVersion("4.2.1", "4.2.1.7"));
    EXPECT_EQ(CompareVersions("", "0"), 0);
}

// The verdicts of the single-digit examples stay what plain text order gave.
TEST(VersionOrder, SingleDigitExamplesKeepTheirVerdicts) {
    EXPECT_TRUE(IsOlderVersion("4.2.0", "4.2.1"));
    EXPECT_TRUE(IsOlderVersion("4.2.0", "4.3"));
    EXPECT_TRUE(IsOlderVersion("4.2", "4.2.1"));
    EXPECT_FALSE(IsOlderVersion("4.2.1", "4.2.1"));
    EXPECT_FALSE(IsOlderVersion("4.3.0", "4.2.1"));
    EXPECT_FALSE(IsOlderVersion("4.2.1", "4.2"));
    EXPECT_FALSE(IsOlderVersion("4.2.0", "4.2"));
    EXPECT_TRUE(IsOlderVersion("3.9.9", "4.0.0"));
    EXPECT_FALSE(IsOlderVersion("5.0.0", "4.9.9"));
}

} // namespace
} // namespace lumoradex
