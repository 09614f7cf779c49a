#pragma once
// An ECDSA P-256 signature as openssl writes it, DER-encoded (a SEQUENCE of the INTEGERs r and s),
// turned into the fixed 64-byte form r‖s that Windows verifies. Platform-free.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "updater/ports/proof_values.h"

namespace lumoradex {

// Nothing unless the bytes are exactly one such DER signature, each integer positive and at most
// 32 bytes long once its sign byte is dropped.
std::optional<RawP256Signature> P256SignatureFromDer(std::string_view der);

} // namespace lumoradex
