#pragma once
// One job on a thread of its own, whose owner waits for its result in slices, so as to do something
// else between them (the window paints). Platform-free.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace lumoradex {

template <class Result> class BackgroundJob {
public:
    // Starts the job at once; it must not throw. Throws when no thread can be started.
    explicit BackgroundJob(std::function<Result()> job) : worker_([this, job = std::move(job)] { Finish(job()); }) {}
    BackgroundJob(const BackgroundJob&) = delete;
    BackgroundJob& operator=(const BackgroundJob&) = delete;
    // Waits for the job's end.
    ~BackgroundJob() { worker_.join(); }

    // The result once the job has ended within the time-out; nothing before.
    std::optional<Result> WaitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        ended_.wait_for(lock, timeout, [&] { return result_.has_value(); });
        return result_;
    }

private:
    void Finish(Result result) {
        std::lock_guard lock(mutex_);
        result_ = std::move(result);
        ended_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable ended_;
    std::optional<Result> result_;
    std::thread worker_; // last: it starts once the rest is in place
};

} // namespace lumoradex
