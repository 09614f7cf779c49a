#pragma once
// The failure that adapters throw and handlers catch: plain C++, so that the platform-free core and
// the Win32 adapters share it.

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

} // namespace lumoradex
