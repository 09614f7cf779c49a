#pragma once
// The handlers' failure rule: a failing step is skipped silently and the handler goes on with the
// next one; a failing branch test enters the branch as if the test had held. Adapters report a
// failure by throwing (StepFailure or any std::exception); these two functions are the only place
// where the handlers catch.

#include <exception>
#include <string>
#include <utility>

namespace lumoradex {

// A failed system operation, named for diagnostics; the code is the platform's error code, if any.
class StepFailure : public std::exception {
public:
    StepFailure(std::string operation, unsigned long code) : what_(std::move(operation)), code_(code) {
        what_ += " failed (" + std::to_string(code) + ")";
    }
    const char* what() const noexcept override { return what_.c_str(); }
    unsigned long Code() const noexcept { return code_; }

private:
    std::string what_;
    unsigned long code_;
};

// Runs one step of a handler; a failure ends the step and nothing else. Returns whether it succeeded.
template <class Step> bool SkipOnFailure(Step&& step) noexcept {
    try {
        std::forward<Step>(step)();
        return true;
    } catch (...) {
        return false;
    }
}

// Evaluates the test of a branch; a test that fails counts as holding, so the branch is entered.
template <class Test> bool HoldsUnlessFailed(Test&& test) noexcept {
    try {
        return static_cast<bool>(std::forward<Test>(test)());
    } catch (...) {
        return true;
    }
}

} // namespace lumoradex
