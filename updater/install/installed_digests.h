#pragma once
// The SHA-256 of the installed copies a signed release may leave as they are or patch, so that it
// can tell which files are current and which patch applies. They are hashed from the start of the
// staging on two threads of their own, in the release's order, while the link fetches and patches
// what the digests known so far allow. Platform-free.

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "updater/ports/installation_files.h"
#include "updater/ports/release_verifier.h"
#include "updater/release/release_list.h"

namespace lumoradex {

class InstalledDigests {
public:
    // Without threads, each copy is hashed when its digest is asked for.
    InstalledDigests(InstallationFiles& files, ReleaseVerifier& verifier, std::vector<std::string> paths);
    InstalledDigests(const InstalledDigests&) = delete;
    InstalledDigests& operator=(const InstalledDigests&) = delete;
    // Stops after the mebibyte in hand.
    ~InstalledDigests();

    // The copy's digest, waited for while whileWaiting runs every 100 ms, or hashed now if it was not
    // among the paths; nothing when the copy is missing or cannot be read (another program writing
    // it, say).
    std::optional<Sha256Digest> Get(const std::string& path, const std::function<void()>& whileWaiting);

private:
    void Hash();
    std::optional<Sha256Digest> DigestOf(const std::string& path);

    InstallationFiles& files_;
    ReleaseVerifier& verifier_;
    const std::vector<std::string> paths_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0; // the next path a thread takes
    std::map<std::string, std::optional<Sha256Digest>> digests_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

} // namespace lumoradex
