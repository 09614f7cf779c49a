#pragma once
// One thread waits, up to a deadline, until another has got somewhere.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace lumoradex::fakes {

class Signal {
public:
    void Raise() {
        std::lock_guard lock(mutex_);
        raised_ = true;
        changed_.notify_all();
    }
    void Reset() {
        std::lock_guard lock(mutex_);
        raised_ = false;
    }
    // Whether it was raised before the deadline.
    bool WaitRaised(std::chrono::seconds deadline = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, deadline, [&] { return raised_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool raised_ = false;
};

} // namespace lumoradex::fakes
