#pragma once
// Adapters report a failed Win32 call by throwing Win32Error, with the API's name and the error
// code captured at the failing call.

#include <windows.h>

#include "base/step_failure.h"

namespace lumoradex {

class Win32Error : public StepFailure {
public:
    // A failing call that left no code (zero) still carries a failure code: ERROR_GEN_FAILURE.
    Win32Error(const char* api, DWORD code) : StepFailure(api, code != ERROR_SUCCESS ? code : ERROR_GEN_FAILURE) {}
};

// Throws Win32Error for the last error of the calling thread.
[[noreturn]] inline void ThrowLastError(const char* api) {
    throw Win32Error(api, GetLastError());
}

} // namespace lumoradex
