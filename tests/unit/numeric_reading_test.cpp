#include "updater/check/numeric_reading.h"

#include <gtest/gtest.h>

namespace lumoradex {
namespace {

double Read(const char* text) {
    const std::optional<double> value = NumericReading(text);
    EXPECT_TRUE(value.has_value()) << text;
    return value.value_or(-12345.0);
}

TEST(NumericReading, ReadsTheLeadingNumberOfAVersionText) {
    EXPECT_DOUBLE_EQ(Read("4.2.1"), 4.2);
    EXPECT_DOUBLE_EQ(Read("0.9.3"), 0.9);
    EXPECT_DOUBLE_EQ(Read("4.10."), 4.1);
    EXPECT_DOUBLE_EQ(Read("4"), 4.0);
}

TEST(NumericReading, TextsThatDoNotBeginWithANumberReadAsZero) {
    EXPECT_EQ(Read("0.0.1"), 0.0);
    EXPECT_EQ(Read("V4.2."), 0.0);
    EXPECT_EQ(Read(""), 0.0);
    EXPECT_EQ(Read("-"), 0.0);
    EXPECT_EQ(Read("+"), 0.0);
    EXPECT_EQ(Read("."), 0.0);
    EXPECT_EQ(Read("E5"), 0.0);
    EXPECT_EQ(Read("<p>4"), 0.0);
}

TEST(NumericReading, BlanksAreIgnoredEvenInsideTheNumber) {
    EXPECT_DOUBLE_EQ(Read(" 4 . 2"), 4.2);
    EXPECT_DOUBLE_EQ(Read("\t1\n2 3"), 123.0);
    EXPECT_DOUBLE_EQ(Read("- 5"), -5.0);
    // A carriage return is not a blank: it ends the number.
    EXPECT_DOUBLE_EQ(Read("1\r2"), 1.0);
}

TEST(NumericReading, SignAndDecimalPoint) {
    EXPECT_DOUBLE_EQ(Read("-2.5x"), -2.5);
    EXPECT_DOUBLE_EQ(Read("+7"), 7.0);
    EXPECT_DOUBLE_EQ(Read(".5"), 0.5);
    EXPECT_DOUBLE_EQ(Read("3."), 3.0);
    EXPECT_EQ(Read("+-3"), 0.0);
}

TEST(NumericReading, ExponentWithEOrD) {
    EXPECT_DOUBLE_EQ(Read("1D3"), 1000.0);
    EXPECT_DOUBLE_EQ(Read("1E3"), 1000.0);
    EXPECT_DOUBLE_EQ(Read("2.5e-1"), 0.25);
    EXPECT_DOUBLE_EQ(Read("1d+2"), 100.0);
    // An exponent letter without digits is not part of the number.
    EXPECT_DOUBLE_EQ(Read("7E"), 7.0);
    EXPECT_DOUBLE_EQ(Read("7E+"), 7.0);
    EXPECT_DOUBLE_EQ(Read("7Ex"), 7.0);
}

TEST(NumericReading, HexadecimalAndOctalWholeNumbers) {
    EXPECT_EQ(Read("&H1F"), 31.0);
    EXPECT_EQ(Read("&h1f"), 31.0);
    EXPECT_EQ(Read("&O17"), 15.0);
    EXPECT_EQ(Read("&O19"), 1.0);
    EXPECT_EQ(Read("&H"), 0.0);
    EXPECT_EQ(Read("& H 10"), 16.0);
    EXPECT_EQ(Read("&X1"), 0.0);
}

TEST(NumericReading, ANumberTooLargeToRepresentHasNoReading) {
    EXPECT_FALSE(NumericReading("9e999").has_value());
    EXPECT_FALSE(NumericReading("-9D999").has_value());
    EXPECT_FALSE(NumericReading("&H100000000").has_value());
    EXPECT_EQ(Read("&HFFFFFFFF"), 4294967295.0);
    // Too small is not too large: it reads as 0.
    EXPECT_EQ(Read("1e-999"), 0.0);
}

} // namespace
} // namespace lumoradex
