#include "system/debug_trace_win.h"

#include <windows.h>

#include <cstdio>

namespace lumoradex {

// Seconds of the performance counter, to the microsecond: under Wine it is the Linux clock
// CLOCK_MONOTONIC_RAW in 100 ns units, so a benchmark on the Linux side can place the points among
// its own. With no debugger listening, a line costs some microseconds and is lost, as intended:
// the program keeps no log.
void DebugStringTrace::Mark(TracePoint point, std::string_view file) noexcept {
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    if (!QueryPerformanceFrequency(&frequency) || !QueryPerformanceCounter(&counter) || frequency.QuadPart <= 0)
        return;
    const long long seconds = counter.QuadPart / frequency.QuadPart;
    const long long microseconds = counter.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart;
    const std::string_view name = TracePointName(point);
    char line[160];
    std::snprintf(line, sizeof line, "MAJLumoradex trace %lld.%06lld %.*s%s%.*s\n", seconds, microseconds,
                  static_cast<int>(name.size()), name.data(), file.empty() ? "" : " ", static_cast<int>(file.size()),
                  file.data());
    OutputDebugStringA(line);
}

} // namespace lumoradex
