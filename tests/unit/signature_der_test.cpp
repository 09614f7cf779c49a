#include "updater/release/signature_der.h"

#include <gtest/gtest.h>

#include <string>

namespace lumoradex {
namespace {

std::string Integer(std::string value) { return std::string{'\x02', static_cast<char>(value.size())} + value; }
std::string Sequence(std::string content) { return std::string{'\x30', static_cast<char>(content.size())} + content; }

const std::string kR(32, '\x11');
const std::string kS(32, '\x7f');

TEST(SignatureDer, FullLengthIntegers) {
    const std::optional<RawP256Signature> raw = P256SignatureFromDer(Sequence(Integer(kR) + Integer(kS)));
    ASSERT_TRUE(raw);
    EXPECT_EQ(std::string(raw->begin(), raw->begin() + 32), kR);
    EXPECT_EQ(std::string(raw->begin() + 32, raw->end()), kS);
}

// A top bit set takes a sign byte, which is dropped; a short integer is padded on the left.
TEST(SignatureDer, SignByteAndShortIntegers) {
    const std::string high(32, '\x80');
    const std::optional<RawP256Signature> raw =
        P256SignatureFromDer(Sequence(Integer(std::string(1, '\0') + high) + Integer("\x01\x02")));
    ASSERT_TRUE(raw);
    EXPECT_EQ(std::string(raw->begin(), raw->begin() + 32), high);
    EXPECT_EQ(std::string(raw->begin() + 32, raw->end()), std::string(30, '\0') + "\x01\x02");
}

class MalformedSignature : public ::testing::TestWithParam<std::string> {};

TEST_P(MalformedSignature, IsRefused) { EXPECT_FALSE(P256SignatureFromDer(GetParam())); }

INSTANTIATE_TEST_SUITE_P(
    SignatureDer, MalformedSignature,
    ::testing::Values(std::string(), std::string(64, '\x11'),           // empty, raw r‖s
                      Sequence(Integer(kR)),                           // one integer
                      Sequence(Integer(kR) + Integer(kS) + Integer(kS)), // three
                      Sequence(Integer(kR) + Integer(kS)) + std::string(1, '\0'), // trailing byte
                      Sequence(Integer(kR) + Integer(kS)).substr(0, 60), // cut short
                      Sequence(Integer(kR) + Integer("")),               // empty integer
                      Sequence(Integer(kR) + Integer("\x80\x01")),       // negative
                      Sequence(Integer(kR) + Integer(std::string("\0\x01", 2))), // needless leading zero
                      Sequence(Integer(kR) + Integer(std::string(1, '\x01') + kS)), // 33 bytes of value
                      Sequence(Integer(kR) + Integer(std::string(1, '\0') + kS)),   // sign byte before 0x7f
                      "\x31" + Sequence(Integer(kR) + Integer(kS)).substr(1),       // a SET
                      std::string("\x30\x81\x44", 3) + Integer(kR) + Integer(kS)));  // long-form length

} // namespace
} // namespace lumoradex
