#pragma once
// Failures injected into a fake by naming the operation that should throw.

#include <map>
#include <string>

#include "base/step_failure.h"

namespace lumoradex::fakes {

class FailureSwitch {
public:
    void Fail(const std::string& operation) { failing_[operation] = 0; }
    // The operation succeeds the given number of times, then fails.
    void FailAfter(const std::string& operation, int successes) { failing_[operation] = successes; }
    void Check(const std::string& operation) const {
        const auto found = failing_.find(operation);
        if (found == failing_.end())
            return;
        if (found->second > 0) {
            --found->second;
            return;
        }
        throw StepFailure(operation, 21);
    }

private:
    mutable std::map<std::string, int> failing_;
};

} // namespace lumoradex::fakes
