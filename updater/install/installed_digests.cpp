#include "updater/install/installed_digests.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "base/failure_rule.h"

namespace lumoradex {
namespace {

constexpr std::size_t kChunkBytes = 128 * 1024;
// The largest copies come after the small ones: a second thread hashes the rest of the release
// while the first is on the database, on a machine with the cores for both.
constexpr int kThreads = 2;
constexpr auto kRepaintInterval = std::chrono::milliseconds(100);

} // namespace

InstalledDigests::InstalledDigests(InstallationFiles& files, ReleaseVerifier& verifier, std::vector<std::string> paths)
    : files_(files), verifier_(verifier), paths_(std::move(paths)) {
    SkipOnFailure([&] {
        for (int thread = 0; thread < kThreads; ++thread)
            workers_.emplace_back([this] { Hash(); });
    });
}

InstalledDigests::~InstalledDigests() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    for (std::thread& worker : workers_)
        worker.join();
}

std::optional<Sha256Digest> InstalledDigests::Get(const std::string& path, const std::function<void()>& whileWaiting) {
    std::unique_lock lock(mutex_);
    const bool hashedAhead = !workers_.empty() && std::ranges::find(paths_, path) != paths_.end();
    if (!hashedAhead && !digests_.contains(path)) {
        lock.unlock();
        const std::optional<Sha256Digest> digest = DigestOf(path);
        lock.lock();
        digests_[path] = digest;
    }
    while (!digests_.contains(path)) {
        changed_.wait_for(lock, kRepaintInterval);
        lock.unlock();
        whileWaiting();
        lock.lock();
    }
    return digests_.at(path);
}

void InstalledDigests::Hash() {
    for (;;) {
        std::string path;
        {
            std::lock_guard lock(mutex_);
            if (stopping_ || next_ == paths_.size())
                return;
            path = paths_[next_++];
        }
        const std::optional<Sha256Digest> digest = DigestOf(path);
        std::lock_guard lock(mutex_);
        digests_[path] = digest;
        changed_.notify_all();
    }
}

// Read and hashed on the same thread, 128 KiB at a time: the memory a copy takes is bounded whatever
// its size, and small beside the download's while both run.
std::optional<Sha256Digest> InstalledDigests::DigestOf(const std::string& path) {
    std::optional<Sha256Digest> digest;
    SkipOnFailure([&] {
        const std::unique_ptr<FileReader> copy = files_.OpenToRead(path);
        const std::unique_ptr<Sha256Hash> hash = verifier_.StartSha256();
        std::vector<std::byte> chunk(kChunkBytes);
        std::uint64_t offset = 0;
        while (const std::size_t read = copy->ReadAt(offset, chunk.data(), chunk.size())) {
            {
                std::lock_guard lock(mutex_);
                if (stopping_)
                    return;
            }
            hash->Add(chunk.data(), read);
            offset += read;
        }
        digest = hash->Finish();
    });
    return digest;
}

} // namespace lumoradex
