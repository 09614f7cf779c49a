#pragma once
// The handlers' failure rule: a failing step is skipped silently and the handler goes on with the
// next one; a failing branch test enters the branch as if the test had held. Adapters report a
// failure by throwing (StepFailure of base/step_failure.h, or any std::exception); these two
// functions are the only place where the handlers catch.

#include <utility>

namespace lumoradex {

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
