#pragma once
// The certificates of the tests' TLS servers, made with openssl the first time a session needs them
// and kept in its state folder: a test authority (trusted in the session's Wine prefix by
// TrustTestAuthority), and server certificates for "localhost", for another name, expired, and from
// an authority nobody trusts.

#include <filesystem>

#include "tests/e2e/wine_session.h"

namespace lumoradex::e2e {

struct TlsIdentity {
    std::filesystem::path certificate; // PEM
    std::filesystem::path privateKey;  // PEM
};

struct TestCertificates {
    std::filesystem::path authority; // DER, the test authority's own certificate
    TlsIdentity localhost;           // issued by the test authority for the name localhost
    TlsIdentity otherName;           // issued by it for another name only
    TlsIdentity expired;             // issued by it for localhost, no longer valid
    TlsIdentity untrusted;           // for localhost, issued by an authority the prefix does not know
};

// Made once per session state folder; throws when openssl fails.
const TestCertificates& TestTls(const WineSession& session);

// Adds the test authority to the Wine prefix's LocalMachine Root store (fixture trust_authority.exe).
void TrustTestAuthority(const WineSession& session);

} // namespace lumoradex::e2e
