#include "updater/release/signature_der.h"

#include <algorithm>
#include <cstddef>

namespace lumoradex {
namespace {

constexpr std::uint8_t kSequenceTag = 0x30;
constexpr std::uint8_t kIntegerTag = 0x02;
constexpr std::size_t kIntegerSize = 32;

// Reads one tag and its short-form length (every part of a P-256 signature is under 128 bytes), and
// returns its content, leaving the rest.
std::optional<std::string_view> TakeElement(std::string_view& rest, std::uint8_t tag) {
    if (rest.size() < 2 || static_cast<std::uint8_t>(rest[0]) != tag)
        return std::nullopt;
    const auto length = static_cast<std::uint8_t>(rest[1]);
    if (length >= 0x80 || rest.size() - 2 < length)
        return std::nullopt;
    const std::string_view content = rest.substr(2, length);
    rest.remove_prefix(2 + length);
    return content;
}

// A positive integer in its shortest encoding: a leading zero only before a byte whose top bit is
// set, where it keeps the number from reading as negative.
bool WriteInteger(std::string_view content, std::uint8_t* out) {
    if (content.empty() || static_cast<std::uint8_t>(content[0]) >= 0x80)
        return false;
    if (content[0] == '\0' && content.size() > 1) {
        if (static_cast<std::uint8_t>(content[1]) < 0x80)
            return false;
        content.remove_prefix(1);
    }
    if (content.size() > kIntegerSize)
        return false;
    std::copy(content.begin(), content.end(), out + kIntegerSize - content.size());
    return true;
}

} // namespace

std::optional<RawP256Signature> P256SignatureFromDer(std::string_view der) {
    std::optional<std::string_view> sequence = TakeElement(der, kSequenceTag);
    if (!sequence || !der.empty())
        return std::nullopt;
    const std::optional<std::string_view> r = TakeElement(*sequence, kIntegerTag);
    const std::optional<std::string_view> s = r ? TakeElement(*sequence, kIntegerTag) : std::nullopt;
    RawP256Signature raw{};
    if (!s || !sequence->empty() || !WriteInteger(*r, raw.data()) || !WriteInteger(*s, raw.data() + kIntegerSize))
        return std::nullopt;
    return raw;
}

} // namespace lumoradex
