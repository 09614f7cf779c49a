#pragma once
// Adapters report a failed Win32 call by throwing Win32Error, with the API's name and the error
// code captured at the failing call.

#include <windows.h>

#include "base/step_failure.h"

namespace lumoradex {

class Win32Error : public StepFailure {
public:
    Win32Error(const char* api, DWORD code) : StepFailure(api, code) {}
};

// Throws Win32Error for the last error of the calling thread; a zero code still counts as a failure.
[[noreturn]] inline void ThrowLastError(const char* api) {
    DWORD code = GetLastError();
    throw Win32Error(api, code != ERROR_SUCCESS ? code : ERROR_GEN_FAILURE);
}

} // namespace lumoradex
