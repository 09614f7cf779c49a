#include "system/release_verifier_win.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "base/system_library_win.h"
#include "base/win32_error_win.h"

namespace lumoradex {

// The CNG procedures, taken from the system folder's bcrypt.dll rather than imported by name.
struct BCryptApi {
    template <class Function> Function Procedure(const char* name) const {
        return SystemProcedure<Function>(library.Get(), name);
    }

    UniqueLibrary library = LoadSystemLibrary(L"bcrypt.dll");
    decltype(&BCryptOpenAlgorithmProvider) openAlgorithm =
        Procedure<decltype(&BCryptOpenAlgorithmProvider)>("BCryptOpenAlgorithmProvider");
    decltype(&BCryptCloseAlgorithmProvider) closeAlgorithm =
        Procedure<decltype(&BCryptCloseAlgorithmProvider)>("BCryptCloseAlgorithmProvider");
    decltype(&BCryptImportKeyPair) importKeyPair = Procedure<decltype(&BCryptImportKeyPair)>("BCryptImportKeyPair");
    decltype(&BCryptDestroyKey) destroyKey = Procedure<decltype(&BCryptDestroyKey)>("BCryptDestroyKey");
    decltype(&BCryptCreateHash) createHash = Procedure<decltype(&BCryptCreateHash)>("BCryptCreateHash");
    decltype(&BCryptHashData) hashData = Procedure<decltype(&BCryptHashData)>("BCryptHashData");
    decltype(&BCryptFinishHash) finishHash = Procedure<decltype(&BCryptFinishHash)>("BCryptFinishHash");
    decltype(&BCryptDestroyHash) destroyHash = Procedure<decltype(&BCryptDestroyHash)>("BCryptDestroyHash");
    decltype(&BCryptVerifySignature) verifySignature =
        Procedure<decltype(&BCryptVerifySignature)>("BCryptVerifySignature");
};

namespace {

constexpr NTSTATUS kInvalidSignature = static_cast<NTSTATUS>(0xC000A000L);

void Require(NTSTATUS status, const char* api) {
    if (status < 0)
        throw Win32Error(api, static_cast<DWORD>(status));
}

struct AlgorithmCloser {
    decltype(&BCryptCloseAlgorithmProvider) close;
    void operator()(void* algorithm) const noexcept { close(algorithm, 0); }
};
struct KeyDestroyer {
    decltype(&BCryptDestroyKey) destroy;
    void operator()(void* key) const noexcept { destroy(key); }
};
struct HashDestroyer {
    decltype(&BCryptDestroyHash) destroy;
    void operator()(void* hash) const noexcept { destroy(hash); }
};
using UniqueAlgorithm = std::unique_ptr<void, AlgorithmCloser>;
using UniqueKey = std::unique_ptr<void, KeyDestroyer>;
using UniqueHash = std::unique_ptr<void, HashDestroyer>;

UniqueAlgorithm OpenAlgorithm(const BCryptApi& api, const wchar_t* name) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    Require(api.openAlgorithm(&algorithm, name, nullptr, 0), "BCryptOpenAlgorithmProvider");
    return UniqueAlgorithm(algorithm, AlgorithmCloser{api.closeAlgorithm});
}

UniqueKey ImportPublicKey(const BCryptApi& api, BCRYPT_ALG_HANDLE ecdsa, const P256PublicKey& publicKey) {
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + publicKey.size());
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, static_cast<ULONG>(publicKey.size() / 2)};
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, publicKey.data(), publicKey.size());
    BCRYPT_KEY_HANDLE key = nullptr;
    Require(api.importKeyPair(ecdsa, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob.data(),
                              static_cast<ULONG>(blob.size()), 0),
            "BCryptImportKeyPair");
    return UniqueKey(key, KeyDestroyer{api.destroyKey});
}

// The hash object's memory is left to CNG, which allocates it itself from Windows 7 on.
class CngSha256 final : public Sha256Hash {
public:
    CngSha256(const BCryptApi& api, BCRYPT_ALG_HANDLE sha256) : api_(api), hash_(nullptr, HashDestroyer{api.destroyHash}) {
        BCRYPT_HASH_HANDLE hash = nullptr;
        Require(api.createHash(sha256, &hash, nullptr, 0, nullptr, 0, 0), "BCryptCreateHash");
        hash_.reset(hash);
    }

    // CNG takes at most 4 GiB per call.
    void Add(const std::byte* data, std::size_t size) override {
        while (size > 0) {
            const ULONG part = static_cast<ULONG>(std::min<std::size_t>(size, ULONG_MAX));
            Require(api_.hashData(hash_.get(), reinterpret_cast<PUCHAR>(const_cast<std::byte*>(data)), part, 0),
                    "BCryptHashData");
            data += part;
            size -= part;
        }
    }

    Sha256Digest Finish() override {
        Sha256Digest digest{};
        Require(api_.finishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0), "BCryptFinishHash");
        return digest;
    }

private:
    const BCryptApi& api_;
    UniqueHash hash_;
};

} // namespace

struct CngReleaseVerifier::Providers {
    explicit Providers(const P256PublicKey& publicKey)
        : sha256(OpenAlgorithm(api, BCRYPT_SHA256_ALGORITHM)),
          ecdsa(OpenAlgorithm(api, BCRYPT_ECDSA_P256_ALGORITHM)),
          key(ImportPublicKey(api, ecdsa.get(), publicKey)) {}

    BCryptApi api;
    UniqueAlgorithm sha256;
    UniqueAlgorithm ecdsa;
    UniqueKey key;
};

CngReleaseVerifier::CngReleaseVerifier(const P256PublicKey& publicKey) : publicKey_(publicKey) {}

CngReleaseVerifier::~CngReleaseVerifier() = default;

CngReleaseVerifier::Providers& CngReleaseVerifier::Loaded() {
    if (!providers_)
        providers_ = std::make_unique<Providers>(publicKey_);
    return *providers_;
}

// Any answer but "valid" or "invalid signature" is a failure of the platform, not a verdict.
bool CngReleaseVerifier::Verifies(std::string_view message, const RawP256Signature& signature) {
    Providers& providers = Loaded();
    CngSha256 hash(providers.api, providers.sha256.get());
    hash.Add(reinterpret_cast<const std::byte*>(message.data()), message.size());
    Sha256Digest digest = hash.Finish();
    RawP256Signature copy = signature;
    const NTSTATUS status = providers.api.verifySignature(providers.key.get(), nullptr, digest.data(),
                                                           static_cast<ULONG>(digest.size()), copy.data(),
                                                           static_cast<ULONG>(copy.size()), 0);
    if (status == kInvalidSignature)
        return false;
    if (status != 0)
        throw Win32Error("BCryptVerifySignature", static_cast<DWORD>(status));
    return true;
}

std::unique_ptr<Sha256Hash> CngReleaseVerifier::StartSha256() {
    Providers& providers = Loaded();
    return std::make_unique<CngSha256>(providers.api, providers.sha256.get());
}

} // namespace lumoradex
