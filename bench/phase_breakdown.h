#pragma once
// Where an update run's time goes: the trace points the updater hands to the debugger, which Wine
// prints on its debugstr channel, turned into phases and printed as tables of medians.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "updater/ports/update_trace.h"

namespace lumoradex::bench {

// The variable that makes Wine print the trace points on the program's standard error.
inline constexpr char kTraceChannel[] = "WINEDEBUG=-all,+debugstr";

struct TraceMark {
    double seconds = 0; // of CLOCK_MONOTONIC_RAW, which is the performance counter under Wine
    TracePoint point{};
    std::string file;
};

// The trace points in a program's output, in the order they were written.
std::vector<TraceMark> ParseTrace(std::string_view output);

// Now, on the clock of the trace points.
double TraceClockSeconds();

// The phases of one automatic run, in seconds. The rows down to ProcessEnd but CloseRequests follow
// one another and add up to Total; the close requests, posted once every file is staged, and the
// per-file disk work (Flush, Replace, Mirror) lie within them.
enum class Phase {
    ClickToHandler, // xdotool's click until the update handler starts
    CloseRequests,  // posting the close requests, before the commit
    LinkIdle, // before each request: the previous file's disk work while it holds the link,
              // the progress message, the temporary file
    RequestToFirstByte,
    Body,          // first to last byte: the transfer itself
    AfterLastBody, // the last body's end until every file is settled
    Recheck,
    StartApplication,
    ProcessEnd, // the program's last step until its process is gone
    Total,
    Flush,
    Replace,
    Mirror,
};
inline constexpr std::size_t kPhaseCount = static_cast<std::size_t>(Phase::Mirror) + 1;

struct FilePhases {
    std::string name;
    double linkIdle = 0, requestToFirstByte = 0, body = 0, flush = 0, replace = 0, mirror = 0;
};

struct RunPhases {
    std::array<double, kPhaseCount> seconds{};
    std::vector<FilePhases> files; // in the order of their requests
};

// Nothing when a point is missing (a run that failed or was not traced). click and end are the
// bench's own moments, on the trace's clock.
std::optional<RunPhases> PhasesOf(const std::vector<TraceMark>& marks, double click, double end);

struct PhaseColumn {
    std::string title;
    std::vector<RunPhases> runs;
};

// One row per phase, one column per series: the median of its runs.
void PrintPhaseTable(const std::vector<PhaseColumn>& columns);
// One row per file: the medians of its own phases in one series.
void PrintFileTable(const PhaseColumn& column);

} // namespace lumoradex::bench
