#include "bench/phase_breakdown.h"

#include <algorithm>

#include <time.h>

#include <cstdio>
#include <map>
#include <optional>
#include <sstream>

#include "bench/median.h"

namespace lumoradex::bench {
namespace {

constexpr std::string_view kTraceMarker = "MAJLumoradex trace ";
constexpr TracePoint kLastTracePoint = TracePoint::ApplicationStarted;

std::optional<TracePoint> PointNamed(std::string_view name) {
    for (int value = 0; value <= static_cast<int>(kLastTracePoint); ++value) {
        if (TracePointName(static_cast<TracePoint>(value)) == name)
            return static_cast<TracePoint>(value);
    }
    return std::nullopt;
}

// Wine quotes the debug string as C text: the line's own line feed arrives as "\n" before the
// closing quote.
std::string_view WithoutQuotedEnd(std::string_view text) {
    for (std::string_view end : {"\"", "\\n"}) {
        if (text.ends_with(end))
            text.remove_suffix(end.size());
    }
    return text;
}

// One request of a file: a refused patch is followed by the whole file's request, under the same name.
struct Request {
    std::string file;
    double sent = 0;
    std::optional<double> firstByte, lastByte;
};

const char* PhaseLabel(Phase phase) {
    switch (phase) {
    case Phase::ClickToHandler:
        return "click -> update handler";
    case Phase::CloseRequests:
        return "close requests posted";
    case Phase::LinkIdle:
        return "link idle before each request (sum of 7)";
    case Phase::RequestToFirstByte:
        return "request sent -> first byte (sum of 7)";
    case Phase::Body:
        return "first -> last byte, the transfer (sum of 7)";
    case Phase::AfterLastBody:
        return "last file's last byte -> every file settled";
    case Phase::Recheck:
        return "re-check (version resource, /version.htm)";
    case Phase::StartApplication:
        return "result, start of Velmor.exe";
    case Phase::ProcessEnd:
        return "end of the process (Wine)";
    case Phase::Total:
        return "total, click -> process gone";
    case Phase::Flush:
        return "  last byte -> flushed (sum of 7)";
    case Phase::Replace:
        return "  flushed -> replaced (sum of 7)";
    case Phase::Mirror:
        return "  replaced -> mirror copied (sum of 7)";
    }
    return "?";
}

} // namespace

std::vector<TraceMark> ParseTrace(std::string_view output) {
    std::vector<TraceMark> marks;
    std::istringstream lines{std::string(output)};
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find(kTraceMarker);
        if (at == std::string::npos)
            continue;
        std::istringstream words{
            std::string(WithoutQuotedEnd(std::string_view(line).substr(at + kTraceMarker.size())))};
        TraceMark mark;
        std::string name;
        if (!(words >> mark.seconds >> name))
            continue;
        words >> mark.file;
        if (const std::optional<TracePoint> point = PointNamed(name)) {
            mark.point = *point;
            marks.push_back(std::move(mark));
        }
    }
    return marks;
}

double TraceClockSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_RAW, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::optional<RunPhases> PhasesOf(const std::vector<TraceMark>& marks, double click, double end) {
    std::map<TracePoint, double> run;
    std::vector<Request> requests;
    std::map<std::string, std::map<TracePoint, double>> files;
    for (const TraceMark& mark : marks) {
        if (mark.file.empty()) {
            run.emplace(mark.point, mark.seconds);
            continue;
        }
        const auto latest = std::find_if(requests.rbegin(), requests.rend(),
                                         [&](const Request& request) { return request.file == mark.file; });
        if (mark.point == TracePoint::RequestSent)
            requests.push_back({mark.file, mark.seconds, std::nullopt, std::nullopt});
        else if (mark.point == TracePoint::FirstByte && latest != requests.rend())
            latest->firstByte = mark.seconds;
        else if (mark.point == TracePoint::LastByte && latest != requests.rend())
            latest->lastByte = mark.seconds;
        else
            files[mark.file].emplace(mark.point, mark.seconds);
    }
    for (TracePoint needed : {TracePoint::Click, TracePoint::CloseRequestsPosted, TracePoint::FilesSettled,
                              TracePoint::Rechecked, TracePoint::ApplicationStarted}) {
        if (!run.contains(needed))
            return std::nullopt;
    }
    RunPhases phases;
    auto add = [&](Phase phase, double seconds) { phases.seconds[static_cast<std::size_t>(phase)] += seconds; };
    add(Phase::ClickToHandler, run[TracePoint::Click] - click);
    if (run.contains(TracePoint::CommitStarted))
        add(Phase::CloseRequests, run[TracePoint::CommitStarted] - run[TracePoint::CloseRequestsPosted]);
    double linkFree = run[TracePoint::Click];
    // The replacements follow one another once every file is staged: each takes from the one before
    // it, the first from the commit's start.
    std::vector<double> commitMarks;
    if (run.contains(TracePoint::CommitStarted))
        commitMarks.push_back(run[TracePoint::CommitStarted]);
    for (const auto& [name, at] : files) {
        for (TracePoint point : {TracePoint::Replaced, TracePoint::Mirrored}) {
            if (const auto mark = at.find(point); mark != at.end())
                commitMarks.push_back(mark->second);
        }
    }
    std::sort(commitMarks.begin(), commitMarks.end());
    const auto commitStep = [&](const std::map<TracePoint, double>& at, TracePoint point) {
        const auto mark = at.find(point);
        if (mark == at.end())
            return 0.0;
        const auto self = std::lower_bound(commitMarks.begin(), commitMarks.end(), mark->second);
        return self == commitMarks.begin() ? 0.0 : mark->second - *(self - 1);
    };
    std::vector<FilePhases> perFile;
    const auto phasesOf = [&](const std::string& name) -> FilePhases& {
        const auto known = std::ranges::find(perFile, name, &FilePhases::name);
        return known != perFile.end() ? *known : perFile.emplace_back(FilePhases{name});
    };
    std::map<std::string, double> lastByteOf;
    for (const Request& request : requests) {
        if (!request.lastByte)
            return std::nullopt;
        FilePhases& file = phasesOf(request.file);
        // A request refused before any body (a missing patch) is all waiting for the answer.
        const double answered = request.firstByte.value_or(*request.lastByte);
        file.linkIdle += request.sent - linkFree;
        file.requestToFirstByte += answered - request.sent;
        file.body += *request.lastByte - answered;
        linkFree = lastByteOf[request.file] = *request.lastByte;
    }
    for (FilePhases& file : perFile) {
        std::map<TracePoint, double>& at = files[file.name];
        if (at.contains(TracePoint::Flushed))
            file.flush = at[TracePoint::Flushed] - lastByteOf[file.name];
        file.replace = commitStep(at, TracePoint::Replaced);
        file.mirror = commitStep(at, TracePoint::Mirrored);
        add(Phase::LinkIdle, file.linkIdle);
        add(Phase::RequestToFirstByte, file.requestToFirstByte);
        add(Phase::Body, file.body);
        add(Phase::Flush, file.flush);
        add(Phase::Replace, file.replace);
        add(Phase::Mirror, file.mirror);
    }
    phases.files = std::move(perFile);
    add(Phase::AfterLastBody, run[TracePoint::FilesSettled] - linkFree);
    add(Phase::Recheck, run[TracePoint::Rechecked] - run[TracePoint::FilesSettled]);
    add(Phase::StartApplication, run[TracePoint::ApplicationStarted] - run[TracePoint::Rechecked]);
    add(Phase::ProcessEnd, end - run[TracePoint::ApplicationStarted]);
    add(Phase::Total, end - click);
    return phases;
}

void PrintPhaseTable(const std::vector<PhaseColumn>& columns) {
    std::printf("%-48s", "phase (median seconds)");
    for (const PhaseColumn& column : columns)
        std::printf(" %14s", column.title.c_str());
    std::printf("\n");
    for (std::size_t row = 0; row < kPhaseCount; ++row) {
        if (static_cast<Phase>(row) == Phase::Flush)
            std::printf("disk work of the files, within the rows above:\n");
        std::printf("%-48s", PhaseLabel(static_cast<Phase>(row)));
        for (const PhaseColumn& column : columns) {
            std::vector<double> values;
            for (const RunPhases& run : column.runs)
                values.push_back(run.seconds[row]);
            std::printf(" %14.3f", Median(values));
        }
        std::printf("\n");
    }
    std::printf("traced runs:%37s", "");
    for (const PhaseColumn& column : columns)
        std::printf(" %14zu", column.runs.size());
    std::printf("\n");
}

void PrintFileTable(const PhaseColumn& column) {
    if (column.runs.empty())
        return;
    std::printf("%-34s %9s %9s %9s %9s %9s %9s\n", ("per file, " + column.title).c_str(), "idle", "to 1st B", "body",
                "flush", "replace", "mirror");
    for (std::size_t index = 0; index < column.runs.front().files.size(); ++index) {
        std::array<std::vector<double>, 6> values;
        for (const RunPhases& run : column.runs) {
            if (index >= run.files.size())
                continue;
            const FilePhases& file = run.files[index];
            const std::array<double, 6> phases{
                file.linkIdle, file.requestToFirstByte, file.body, file.flush, file.replace, file.mirror};
            for (std::size_t at = 0; at < phases.size(); ++at)
                values[at].push_back(phases[at]);
        }
        std::printf("%-34s", column.runs.front().files[index].name.c_str());
        for (const std::vector<double>& phase : values)
            std::printf(" %9.3f", Median(phase));
        std::printf("\n");
    }
}

} // namespace lumoradex::bench
