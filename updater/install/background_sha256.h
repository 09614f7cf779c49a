#pragma once
// A SHA-256 computed on a thread of its own, so that hashing a download costs the transfer nothing
// where a core is free. Memory stays bounded: Add waits while 512 KiB is already waiting for the
// thread. Platform-free.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "updater/ports/release_verifier.h"

namespace lumoradex {

class BackgroundSha256 final : public Sha256Hash {
public:
    explicit BackgroundSha256(std::unique_ptr<Sha256Hash> hash);
    BackgroundSha256(const BackgroundSha256&) = delete;
    BackgroundSha256& operator=(const BackgroundSha256&) = delete;
    // Drops what still waits and stops the thread.
    ~BackgroundSha256() override;

    // Throws what the hash threw on an earlier part, if it did.
    void Add(const std::byte* data, std::size_t size) override;
    // Waits for every part; throws what the hash threw.
    Sha256Digest Finish() override;

private:
    void HashWaitingParts();
    void Stop();

    std::unique_ptr<Sha256Hash> hash_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<std::byte>> waiting_;
    std::size_t waitingBytes_ = 0;
    bool hashing_ = false; // the thread holds a part
    bool stopping_ = false;
    std::exception_ptr failure_;
    std::thread worker_;
};

} // namespace lumoradex
