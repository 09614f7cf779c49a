#include "system/net/range_headers.h"

#include <gtest/gtest.h>

namespace lumoradex {
namespace {

TEST(RangeHeaders, AResumedRequestAsksForTheRestUnderItsValidator) {
    EXPECT_EQ(ResumeHeaders({1234, "\"abc\""}), "Range: bytes=1234-\r\nIf-Range: \"abc\"\r\n");
    EXPECT_EQ(ResumeHeaders({7, ""}), "Range: bytes=7-\r\n");
}

TEST(RangeHeaders, ContentRangeIsOneRangeOfBytesWithinItsTotal) {
    const std::optional<BodyPart> part = ParseContentRange("bytes 400-999/1000");
    ASSERT_TRUE(part);
    EXPECT_EQ(part->first, 400u);
    EXPECT_EQ(part->last, 999u);
    EXPECT_EQ(part->total, 1000u);
    EXPECT_EQ(ParseContentRange("Bytes 0-0/*")->total, std::nullopt);
    for (const char* malformed : {"bytes */1000", "bytes 500-400/1000", "bytes 0-1000/1000", "items 0-1/2",
                                  "bytes 0-1/", "bytes -1/2", "bytes 0-1/2x", "bytes 0-18446744073709551616/*",
                                  "bytes=0-1/2", ""})
        EXPECT_FALSE(ParseContentRange(malformed)) << malformed;
}

// A weak tag, or a date that the body might have changed within, must never join two bodies.
TEST(RangeHeaders, OnlyAStrongValidatorIsKept) {
    const std::string_view date = "Thu, 10 Dec 2026 15:00:01 GMT";
    EXPECT_EQ(ValidatorOf("\"v1-abc\"", std::nullopt, std::nullopt), "\"v1-abc\"");
    EXPECT_EQ(ValidatorOf("W/\"v1\"", "Thu, 10 Dec 2026 14:00:00 GMT", date), "");
    EXPECT_EQ(ValidatorOf("\"bad\"quote\"", std::nullopt, std::nullopt), "");
    EXPECT_EQ(ValidatorOf("unquoted", std::nullopt, std::nullopt), "");
    EXPECT_EQ(ValidatorOf(std::nullopt, "Thu, 10 Dec 2026 15:00:00 GMT", date), "Thu, 10 Dec 2026 15:00:00 GMT");
    EXPECT_EQ(ValidatorOf(std::nullopt, "Thu, 10 Dec 2026 15:00:01 GMT", date), "");
    EXPECT_EQ(ValidatorOf(std::nullopt, "Thu, 10 Dec 2026 15:00:00 GMT", std::nullopt), "");
    EXPECT_EQ(ValidatorOf(std::nullopt, "Thursday, 10-Dec-26 15:00:00 GMT", date), "");
    EXPECT_EQ(ValidatorOf(std::nullopt, "Thu, 31 Feb 2026 15:00:00 GMT", date), "");
}

} // namespace
} // namespace lumoradex
