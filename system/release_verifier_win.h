#pragma once
// The proof of signed releases over Windows' own cryptography (CNG, bcrypt.dll from the system
// folder, Windows 7 on): SHA-256, and ECDSA P-256 with the maker's public key built into the program.

#include <array>
#include <cstdint>
#include <memory>

#include "updater/ports/release_verifier.h"

namespace lumoradex {

struct BCryptApi;

// The X and Y coordinates of the maker's public key, big-endian, as the build embeds them.
using P256PublicKey = std::array<std::uint8_t, 64>;

class CngReleaseVerifier final : public ReleaseVerifier {
public:
    explicit CngReleaseVerifier(const P256PublicKey& publicKey);
    CngReleaseVerifier(const CngReleaseVerifier&) = delete;
    CngReleaseVerifier& operator=(const CngReleaseVerifier&) = delete;
    ~CngReleaseVerifier() override;

    bool Verifies(std::string_view message, const RawP256Signature& signature) override;
    std::unique_ptr<Sha256Hash> StartSha256() override;

private:
    struct Providers;
    Providers& Loaded();

    P256PublicKey publicKey_;
    std::unique_ptr<Providers> providers_; // loaded at the first use: most runs never need them
};

} // namespace lumoradex
