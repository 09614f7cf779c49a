#include "updater/install/background_sha256.h"

#include <utility>

namespace lumoradex {
namespace {

constexpr std::size_t kMaxWaitingBytes = 512 * 1024;

} // namespace

BackgroundSha256::BackgroundSha256(std::unique_ptr<Sha256Hash> hash)
    : hash_(std::move(hash)), worker_([this] { HashWaitingParts(); }) {}

BackgroundSha256::~BackgroundSha256() { Stop(); }

// A part larger than the bound still goes, alone.
void BackgroundSha256::Add(const std::byte* data, std::size_t size) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return failure_ || waitingBytes_ == 0 || waitingBytes_ + size <= kMaxWaitingBytes; });
    if (failure_)
        std::rethrow_exception(failure_);
    waiting_.emplace_back(data, data + size);
    waitingBytes_ += size;
    changed_.notify_all();
}

Sha256Digest BackgroundSha256::Finish() {
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return failure_ || (waiting_.empty() && !hashing_); });
    }
    Stop();
    if (failure_)
        std::rethrow_exception(failure_);
    return hash_->Finish();
}

void BackgroundSha256::HashWaitingParts() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || !waiting_.empty(); });
        if (stopping_)
            return;
        const std::vector<std::byte> part = std::move(waiting_.front());
        waiting_.pop_front();
        hashing_ = true;
        lock.unlock();
        std::exception_ptr failure;
        try {
            hash_->Add(part.data(), part.size());
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        hashing_ = false;
        waitingBytes_ -= part.size();
        failure_ = failure_ ? failure_ : failure;
        changed_.notify_all();
        if (failure_)
            return;
    }
}

void BackgroundSha256::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
    }
    if (worker_.joinable())
        worker_.join();
}

} // namespace lumoradex
