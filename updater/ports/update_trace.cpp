#include "updater/ports/update_trace.h"

namespace lumoradex {

std::string_view TracePointName(TracePoint point) {
    switch (point) {
    case TracePoint::Click:
        return "click";
    case TracePoint::CloseRequestsPosted:
        return "close-requests-posted";
    case TracePoint::InstalledHashed:
        return "installed-hashed";
    case TracePoint::RequestSent:
        return "request-sent";
    case TracePoint::FirstByte:
        return "first-byte";
    case TracePoint::LastByte:
        return "last-byte";
    case TracePoint::Patched:
        return "patched";
    case TracePoint::Flushed:
        return "flushed";
    case TracePoint::CommitStarted:
        return "commit-started";
    case TracePoint::Replaced:
        return "replaced";
    case TracePoint::Mirrored:
        return "mirrored";
    case TracePoint::FilesSettled:
        return "files-settled";
    case TracePoint::Rechecked:
        return "rechecked";
    case TracePoint::ApplicationStarted:
        return "application-started";
    }
    return "unknown";
}

} // namespace lumoradex
