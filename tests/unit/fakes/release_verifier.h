#pragma once
// Stand-in cryptography, not a secure one: the "digest" is a 64-bit hash of the bytes spread over 32,
// enough to tell bodies apart, and the maker's "signature" of a text is its digest twice. With the
// texts a release's lists and signatures are served as.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "updater/ports/release_verifier.h"

namespace lumoradex::fakes {

inline Sha256Digest FakeDigest(std::string_view bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    Sha256Digest digest{};
    for (std::size_t round = 0; round < digest.size(); round += 8) {
        for (char byte : bytes)
            hash = (hash ^ static_cast<std::uint8_t>(byte)) * 1099511628211ull;
        for (std::size_t at = 0; at < 8; ++at)
            digest[round + at] = static_cast<std::uint8_t>(hash >> (8 * at));
    }
    return digest;
}

inline RawP256Signature FakeSignature(std::string_view message) {
    const Sha256Digest digest = FakeDigest(message);
    RawP256Signature signature{};
    std::copy(digest.begin(), digest.end(), signature.begin());
    std::copy(digest.begin(), digest.end(), signature.begin() + 32);
    return signature;
}

inline std::string Hex(const Sha256Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (std::uint8_t byte : digest)
        hex += {kDigits[byte >> 4], kDigits[byte & 15]};
    return hex;
}

// DER as openssl writes it; the fake signatures' integers need no sign byte unless their top bit is set.
inline std::string Der(const RawP256Signature& raw) {
    std::string integers;
    for (std::size_t half = 0; half < 2; ++half) {
        std::string value(reinterpret_cast<const char*>(raw.data()) + 32 * half, 32);
        value.erase(0, std::min(value.find_first_not_of('\0'), std::size_t{31}));
        if (static_cast<std::uint8_t>(value[0]) >= 0x80)
            value.insert(0, 1, '\0');
        integers += {'\x02', static_cast<char>(value.size())};
        integers += value;
    }
    return std::string{'\x30', static_cast<char>(integers.size())} + integers;
}

class FakeSha256 final : public Sha256Hash {
public:
    void Add(const std::byte* data, std::size_t size) override {
        bytes_.append(reinterpret_cast<const char*>(data), size);
    }
    Sha256Digest Finish() override { return FakeDigest(bytes_); }

private:
    std::string bytes_;
};

class FakeVerifier final : public ReleaseVerifier {
public:
    bool Verifies(std::string_view message, const RawP256Signature& signature) override {
        return signature == FakeSignature(message);
    }
    std::unique_ptr<Sha256Hash> StartSha256() override { return std::make_unique<FakeSha256>(); }
};

} // namespace lumoradex::fakes
