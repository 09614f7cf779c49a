#pragma once
// The update run's trace points as debug output (OutputDebugString), for a debugger or, under Wine,
// the debugstr channel (WINEDEBUG=+debugstr) to collect: "MAJLumoradex trace SECONDS POINT [FILE]".

#include "updater/ports/update_trace.h"

namespace lumoradex {

class DebugStringTrace final : public UpdateTrace {
public:
    void Mark(TracePoint point, std::string_view file = {}) noexcept override;
};

} // namespace lumoradex
