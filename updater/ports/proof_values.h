#pragma once
// The values that prove a release, as the cryptography port computes and checks them.

#include <array>
#include <cstdint>

namespace lumoradex {

using Sha256Digest = std::array<std::uint8_t, 32>;
// An ECDSA P-256 signature in the fixed form r‖s that Windows verifies.
using RawP256Signature = std::array<std::uint8_t, 64>;

} // namespace lumoradex
