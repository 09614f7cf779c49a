#pragma once
// A thread that runs the jobs its owner hands over, one at a time, and whose owner waits for each
// result in slices, so as to do something else between them (the window paints). One thread for
// many jobs: under Wine every thread started costs the process about 1 MiB more. Platform-free.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace lumoradex {

template <class Result> class JobThread {
public:
    // Throws when no thread can be started.
    JobThread() : worker_([this] { Work(); }) {}
    JobThread(const JobThread&) = delete;
    JobThread& operator=(const JobThread&) = delete;
    // Lets the job in hand end first.
    ~JobThread() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            changed_.notify_all();
        }
        worker_.join();
    }

    // Hands a job over, once the previous one has ended; the job must not throw.
    void Start(std::function<Result()> job) {
        std::lock_guard lock(mutex_);
        job_ = std::move(job);
        result_.reset();
        changed_.notify_all();
    }

    // The job's result once it has ended within the time-out, handed over; nothing before.
    std::optional<Result> WaitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return result_.has_value(); });
        return std::exchange(result_, std::nullopt);
    }

private:
    void Work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return stopping_ || job_; });
            if (!job_)
                return;
            const std::function<Result()> job = std::move(job_);
            job_ = nullptr;
            lock.unlock();
            Result result = job();
            lock.lock();
            result_ = std::move(result);
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<Result()> job_;
    std::optional<Result> result_;
    bool stopping_ = false;
    std::thread worker_; // last: it starts once the rest is in place
};

} // namespace lumoradex
