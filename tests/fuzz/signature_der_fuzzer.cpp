// libFuzzer target: the conversion of a DER signature into r‖s. DER has one encoding per value, so
// any input that converts must be exactly the encoding of what it converts to.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "updater/release/signature_der.h"

namespace {

using namespace lumoradex;

void Require(bool holds) {
    if (!holds)
        std::abort();
}

std::string EncodeInteger(const std::uint8_t* value) {
    std::size_t start = 0;
    while (start < 31 && value[start] == 0)
        ++start;
    std::string content(reinterpret_cast<const char*>(value) + start, 32 - start);
    if (static_cast<std::uint8_t>(content[0]) >= 0x80)
        content.insert(0, 1, '\0');
    return std::string{'\x02', static_cast<char>(content.size())} + content;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view der(reinterpret_cast<const char*>(data), size);
    const std::optional<RawP256Signature> raw = P256SignatureFromDer(der);
    if (!raw)
        return 0;
    const std::string integers = EncodeInteger(raw->data()) + EncodeInteger(raw->data() + 32);
    Require(der == std::string{'\x30', static_cast<char>(integers.size())} + integers);
    return 0;
}
