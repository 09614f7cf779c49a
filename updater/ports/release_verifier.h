#pragma once
// The cryptography that proves a signed release: the maker's signature of the release list, checked
// with the public key built into the program, and the SHA-256 digests of the files. Implemented over
// Windows' own CNG in system/release_verifier_win.cpp; unit tests use fakes. Failures throw.

#include <cstddef>
#include <memory>
#include <string_view>

#include "updater/ports/proof_values.h"

namespace lumoradex {

class Sha256Hash {
public:
    virtual ~Sha256Hash() = default;
    virtual void Add(const std::byte* data, std::size_t size) = 0;
    // The digest of everything added; the hash is spent.
    virtual Sha256Digest Finish() = 0;
};

class ReleaseVerifier {
public:
    virtual ~ReleaseVerifier() = default;
    // Whether signature is the maker's ECDSA P-256 signature of the SHA-256 of message.
    virtual bool Verifies(std::string_view message, const RawP256Signature& signature) = 0;
    virtual std::unique_ptr<Sha256Hash> StartSha256() = 0;
};

} // namespace lumoradex
