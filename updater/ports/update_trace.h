#pragma once
// Timestamped trace points of an update run, so that a benchmark can tell where its time goes. The
// run marks them whether or not anyone listens; the Win32 form (system/debug_trace_win.cpp) hands
// them to a debugger only, and the program keeps no record of them.

#include <string_view>

namespace lumoradex {

enum class TracePoint {
    Click,               // the update handler starts
    CloseRequestsPosted, // every file is staged: the application has been asked to close
    InstalledHashed,     // the installed copies of a signed file are hashed (per file)
    RequestSent,         // a file's request is about to go out (per file)
    FirstByte,           // its body's first bytes have arrived (per file)
    LastByte,            // its body has ended (per file)
    Patched,             // its new content has been made from the installed copy and a patch (per file)
    Flushed,             // its temporary file is on the disk (per file)
    CommitStarted,       // every file is staged: the replacements begin
    Replaced,            // the temporary file has been renamed over it (per file)
    Mirrored,            // the installation folder's copy has been replaced (per file)
    FilesSettled,        // every file has been dealt with
    Rechecked,           // the versions have been checked again
    ApplicationStarted,  // the application has been started, and the program ends
};

// The point's name in a trace line: lower case, no spaces.
std::string_view TracePointName(TracePoint point);

class UpdateTrace {
public:
    virtual ~UpdateTrace() = default;
    // Marks the moment; file is the bare name for the per-file points. Any thread may mark.
    virtual void Mark(TracePoint point, std::string_view file = {}) noexcept = 0;
};

} // namespace lumoradex
