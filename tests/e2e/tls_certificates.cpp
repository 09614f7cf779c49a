#include "tests/e2e/tls_certificates.h"

#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/e2e/build_paths.h"
#include "tests/e2e/process.h"

namespace lumoradex::e2e {

namespace fs = std::filesystem;

namespace {

void OpenSsl(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"openssl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const CommandResult result = RunCommand(argv, EnvironmentWith({}));
    if (result.exitCode != 0)
        throw std::runtime_error("openssl " + arguments.front() + " failed: " + result.errors);
}

// A P-256 key and a self-signed authority certificate.
void MakeAuthority(const fs::path& folder, const std::string& name) {
    OpenSsl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
             (folder / (name + ".key")).string(), "-out", (folder / (name + ".pem")).string(), "-days", "3650",
             "-subj", "/CN=Lumoradex test authority " + name, "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign"});
}

// days < 0 gives a certificate that has expired.
void MakeServer(const fs::path& folder, const std::string& file, const std::string& dnsName,
                       const std::string& authority, int days) {
    const TlsIdentity identity{folder / (file + ".pem"), folder / (file + ".key")};
    const fs::path request = folder / (file + ".csr");
    const fs::path extensions = folder / (file + ".ext");
    OpenSsl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
             identity.privateKey.string(), "-out", request.string(), "-subj", "/CN=" + dnsName});
    {
        std::ofstream(extensions) << "subjectAltName=DNS:" << dnsName << "\nextendedKeyUsage=serverAuth\n";
    }
    OpenSsl({"x509", "-req", "-in", request.string(), "-CA", (folder / (authority + ".pem")).string(), "-CAkey",
             (folder / (authority + ".key")).string(), "-CAcreateserial", "-out", identity.certificate.string(),
             "-days", std::to_string(days), "-extfile", extensions.string()});
}

TestCertificates Paths(const fs::path& folder) {
    const auto identity = [&](const std::string& name) {
        return TlsIdentity{folder / (name + ".pem"), folder / (name + ".key")};
    };
    return {folder / "authority.der", identity("localhost"), identity("other-name"), identity("expired"),
            identity("untrusted")};
}

// Into a fresh folder first, then moved into place: a set that is there is whole.
void Make(const fs::path& folder) {
    const fs::path making = folder.string() + ".making";
    fs::remove_all(making);
    fs::create_directories(making);
    MakeAuthority(making, "authority");
    MakeAuthority(making, "stranger");
    const TestCertificates made = Paths(making);
    OpenSsl({"x509", "-in", (making / "authority.pem").string(), "-outform", "DER", "-out", made.authority.string()});
    MakeServer(making, "localhost", "localhost", "authority", 3650);
    MakeServer(making, "other-name", "update.lumoradex.example", "authority", 3650);
    MakeServer(making, "expired", "localhost", "authority", -1);
    MakeServer(making, "untrusted", "localhost", "stranger", 3650);
    fs::rename(making, folder);
}

} // namespace

// One set per session: its prefix trusts one test authority, however many tests run.
const TestCertificates& TestTls(const WineSession& session) {
    static const std::unique_ptr<const TestCertificates> certificates = [&] {
        const fs::path folder = session.StateFolder() / "tls";
        if (!fs::exists(folder))
            Make(folder);
        return std::make_unique<const TestCertificates>(Paths(folder));
    }();
    return *certificates;
}

void TrustTestAuthority(const WineSession& session) {
    const CommandResult trusted =
        RunCommand({session.Loader(), FixturePath("trust_authority/trust_authority.exe").string(),
                    session.ToWindows(TestTls(session).authority)},
                   session.Variables());
    if (trusted.exitCode != 0)
        throw std::runtime_error("trust_authority.exe failed: " + trusted.errors);
}

} // namespace lumoradex::e2e
