// lumoradex-bench: the updater's figures under Wine against the loopback server, each beside its
// reference, alternating within every round; prints tables of medians (see bench/run.sh).
//   lumoradex-bench throughput ROUNDS [EARLIER_EXE]
//                                       update of the seven files of realistic size, click to end,
//                                       with its phases; beside it, in the same rounds, an earlier
//                                       build of the program if one is given (a Linux path)
//   lumoradex-bench check ROUNDS [EARLIER_EXE]
//                                       automatic run with no update needed, start to end; beside
//                                       it an earlier build, if one is given
//   lumoradex-bench downtime ROUNDS     the update at 100 Mbit/s with the application running: from
//                                       the close request it receives to the new one's start
//   lumoradex-bench patches ROUNDS      signed releases at 100 Mbit/s: whole files, patches and
//                                       current files skipped, the executable alone, the fallback
//   lumoradex-bench resume ROUNDS       the update at 100 Mbit/s with its connections dropped every
//                                       32 MiB beside the clean update, and a signed run killed at
//                                       half the release, then the next run: time and bytes sent
//   lumoradex-bench headers ROUNDS [EARLIER_EXE]
//                                       interactive check against a server that drips its headers
//                                       (a byte every 5 s) or sends header lines without end: start
//                                       to the verdict, and peak memory
// Runs in the Wine session named by LUMORADEX_WINE_STATE.

#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/median.h"
#include "bench/phase_breakdown.h"
#include "tests/e2e/e2e.h"
#include "tests/faults/release_files.h"
#include "tests/faults/updater_driving.h"

namespace lumoradex::e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using bench::Median;

constexpr std::size_t kLinkBytesPerSecond = 100'000'000 / 8; // 100 Mbit/s
constexpr char kFloorFolder[] = "C:\\e2e\\floor";
constexpr char kSignedUpdaterFolder[] = "C:\\e2e\\signed";
constexpr char kEarlierUpdaterFolder[] = "C:\\e2e\\earlier";

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

std::string ReadWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const char* Verdict(bool met) {
    return met ? "met" : "MISSED";
}

// Polls the program every 2 ms until it ends (at most 10 minutes), calling watch at each poll;
// returns the seconds since start.
double SecondsToExit(
    WineProgram& program, Clock::time_point start, const std::function<void()>& watch = [] {}) {
    const auto deadline = start + std::chrono::minutes(10);
    while (program.Running() && Clock::now() < deadline) {
        watch();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return Seconds(Clock::now() - start);
}

// Every timed run starts with the disk clean: what the preparation wrote is not flushed by
// whichever program flushes next.
void SettleDisk() {
    ::sync();
}

struct UpdaterRun {
    double seconds = 0;
    std::size_t peakKiB = 0;
    bool installed = false;
    std::optional<bench::RunPhases> phases;
    std::optional<double> downtime; // with the application running: its close request to its restart
};

// The runs of one build of the updater on one link.
struct UpdaterSeries {
    std::vector<double> seconds;
    std::vector<bench::RunPhases> phases;
    std::size_t peakKiB = 0;
    int notInstalled = 0;

    void Add(const UpdaterRun& run) {
        seconds.push_back(run.seconds);
        if (run.phases)
            phases.push_back(*run.phases);
        peakKiB = std::max(peakKiB, run.peakKiB);
        notInstalled += run.installed ? 0 : 1;
    }
};

struct FloorSeries {
    std::vector<double> seconds;
    std::size_t peakKiB = 0;
};

class Bench {
public:
    Bench() : files_(scenario_.Session().StateFolder() / "bench") {
        // The updater's trace points, on its standard error (see bench/phase_breakdown.h).
        scenario_.SetProgramVariable(bench::kTraceChannel);
    }

    void Throughput(int rounds, const std::optional<fs::path>& earlierExe) {
        const UnmanagedWindows unmanaged(scenario_.Session());
        const std::vector<ReleaseFile> release = RealisticRelease();
        WriteRelease(release, files_ / "old", files_ / "new" / "majv4");
        SignRelease(files_ / "new" / "majv4", kNewVersion);
        const std::string signedUpdater = PlaceUpdaterCopy(SignedUpdaterExecutable(), kSignedUpdaterFolder);
        const std::string earlierUpdater = earlierExe ? PlaceUpdaterCopy(*earlierExe, kEarlierUpdaterFolder) : "";
        scenario_.Server().ServeFolder(files_ / "new");
        scenario_.Server().SetVersionPage(kNewVersion);
        std::vector<std::string> urls;
        for (const ReleaseFile& file : release)
            urls.push_back(scenario_.Server().BaseUrl() + "/majv4/" + file.name);

        UpdaterSeries link, loop, signedLink, signedLoop, earlierLink, earlierLoop;
        std::vector<double> curlLink;
        FloorSeries floor, durableFloor;
        for (int round = 0; round < rounds; ++round) {
            // Each link's runs in turn, forwards in one round and backwards in the next, so that a
            // drift of the machine favours none.
            std::vector<std::function<void()>> linkRuns{[&] { link.Add(RunUpdate(release)); },
                                                        [&] { curlLink.push_back(Curl(urls)); },
                                                        [&] { signedLink.Add(RunUpdate(release, signedUpdater)); }};
            std::vector<std::function<void()>> loopRuns{[&] { loop.Add(RunUpdate(release)); },
                                                        [&] { RunFloor(release, urls, false, floor); },
                                                        [&] { RunFloor(release, urls, true, durableFloor); },
                                                        [&] { signedLoop.Add(RunUpdate(release, signedUpdater)); }};
            if (earlierExe) {
                linkRuns.push_back([&] { earlierLink.Add(RunUpdate(release, earlierUpdater)); });
                loopRuns.push_back([&] { earlierLoop.Add(RunUpdate(release, earlierUpdater)); });
            }
            if (round % 2 == 1) {
                std::reverse(linkRuns.begin(), linkRuns.end());
                std::reverse(loopRuns.begin(), loopRuns.end());
            }
            scenario_.Server().SetBandwidth(kLinkBytesPerSecond);
            for (const auto& run : linkRuns)
                run();
            scenario_.Server().SetBandwidth(0);
            for (const auto& run : loopRuns)
                run();
            std::fprintf(stderr,
                         "round %d: updater %.2f s / curl %.2f s / signed %.2f s (100 Mbit/s); updater %.2f s / "
                         "floor %.2f s / durable floor %.2f s / signed %.2f s",
                         round + 1, link.seconds.back(), curlLink.back(), signedLink.seconds.back(),
                         loop.seconds.back(), floor.seconds.back(), durableFloor.seconds.back(),
                         signedLoop.seconds.back());
            if (earlierExe)
                std::fprintf(stderr, "; earlier build %.2f s (100 Mbit/s), %.2f s", earlierLink.seconds.back(),
                             earlierLoop.seconds.back());
            std::fprintf(stderr, "\n");
        }

        const double mib = static_cast<double>(TotalSize(release)) / (1024 * 1024);
        std::printf("Update throughput: 7 files, %.1f MiB, %d rounds (medians; updater timed from the click on "
                    "\"Mettre a jour\" to its process end, references from their start to their end)\n",
                    mib, rounds);
        std::printf("%-52s %10s %10s\n", "run", "seconds", "MiB/s");
        auto row = [&](const char* name, const std::vector<double>& times) {
            std::printf("%-52s %10.2f %10.1f\n", name, Median(times), mib / Median(times));
        };
        row("updater, link limited to 100 Mbit/s", link.seconds);
        row("curl, link limited to 100 Mbit/s", curlLink);
        row("updater, unthrottled loopback", loop.seconds);
        row("WinINet floor under Wine, unthrottled", floor.seconds);
        row("durable WinINet floor (flush, rename), unthrottled", durableFloor.seconds);
        row("updater with a key, signed release, 100 Mbit/s", signedLink.seconds);
        row("updater with a key, signed release, unthrottled", signedLoop.seconds);
        if (earlierExe) {
            row("earlier build, link limited to 100 Mbit/s", earlierLink.seconds);
            row("earlier build, unthrottled loopback", earlierLoop.seconds);
        }

        const double ratioLink = Median(link.seconds) / Median(curlLink);
        const double ratioDurable = Median(loop.seconds) / Median(durableFloor.seconds);
        std::printf("%-52s %10s %10s %8s\n", "ratio", "measured", "goal", "verdict");
        auto ratio = [](const char* name, double measured, const char* goal, const char* verdict) {
            std::printf("%-52s %10.3f %10s %8s\n", name, measured, goal, verdict);
        };
        ratio("updater / curl (100 Mbit/s)", ratioLink, "<= 1.05", Verdict(ratioLink <= 1.05));
        ratio("updater / durable WinINet floor (unthrottled)", ratioDurable, "<= 1.25", Verdict(ratioDurable <= 1.25));
        ratio("updater / plain WinINet floor (unthrottled)", Median(loop.seconds) / Median(floor.seconds), "-", "-");
        ratio("durable / plain WinINet floor", Median(durableFloor.seconds) / Median(floor.seconds), "-", "-");
        ratio("signed / unsigned update (100 Mbit/s)", Median(signedLink.seconds) / Median(link.seconds), "-", "-");
        const double ratioSigned = Median(signedLoop.seconds) / Median(loop.seconds);
        ratio("signed / unsigned update (unthrottled)", ratioSigned, "<= 1.05", Verdict(ratioSigned <= 1.05));
        if (earlierExe) {
            ratio("earlier build / curl (100 Mbit/s)", Median(earlierLink.seconds) / Median(curlLink), "-", "-");
            ratio("earlier build / durable floor (unthrottled)",
                  Median(earlierLoop.seconds) / Median(durableFloor.seconds), "-", "-");
        }

        const std::size_t peakKiB = std::max({link.peakKiB, loop.peakKiB});
        std::printf("\nMemory: peak resident set (VmHWM) of the Wine process\n");
        std::printf("%-52s %10s %10s %8s\n", "process", "MiB", "goal", "verdict");
        std::printf("%-52s %10.1f %10s %8s\n", "MAJLumoradex.exe, whole update", peakKiB / 1024.0, "< 32",
                    Verdict(peakKiB < 32 * 1024));
        const std::size_t signedPeakKiB = std::max(signedLink.peakKiB, signedLoop.peakKiB);
        std::printf("%-52s %10.1f %10s %8s\n", "MAJLumoradex.exe with a key, signed release", signedPeakKiB / 1024.0,
                    "< 32", Verdict(signedPeakKiB < 32 * 1024));
        if (earlierExe)
            std::printf("%-52s %10.1f %10s %8s\n", "earlier build, whole update",
                        std::max(earlierLink.peakKiB, earlierLoop.peakKiB) / 1024.0, "-", "-");
        std::printf("%-52s %10.1f %10s %8s\n", "wininet_floor.exe, same seven files", floor.peakKiB / 1024.0, "-", "-");
        std::printf("%-52s %10.1f %10s %8s\n", "wininet_floor.exe --durable", durableFloor.peakKiB / 1024.0, "-", "-");
        std::printf("%-52s %10.1f\n", "largest file (XVelmor.mdb)", 128.0);
        std::printf("runs that did not install the new release: %d\n",
                    link.notInstalled + loop.notInstalled + signedLink.notInstalled + signedLoop.notInstalled +
                        earlierLink.notInstalled + earlierLoop.notInstalled);

        std::printf("\nPhases of the update (the updater's trace points; medians of the rounds, which need not add "
                    "up to the median total)\n");
        std::vector<bench::PhaseColumn> columns;
        if (earlierExe) {
            columns.push_back({"earlier 100Mb", earlierLink.phases});
            columns.push_back({"earlier unthr.", earlierLoop.phases});
        }
        columns.push_back({"100 Mbit/s", link.phases});
        columns.push_back({"unthrottled", loop.phases});
        columns.push_back({"signed unthr.", signedLoop.phases});
        bench::PrintPhaseTable(columns);
        std::printf("\n");
        bench::PrintFileTable({"100 Mbit/s", link.phases});
        bench::PrintFileTable({"unthrottled", loop.phases});
    }

    // The application's downtime, from its own records: the close request its window receives, then
    // the start of the new Velmor.exe that the updater starts in automatic mode.
    void Downtime(int rounds) {
        const UnmanagedWindows unmanaged(scenario_.Session());
        const std::vector<ReleaseFile> release = RealisticRelease();
        WriteRelease(release, files_ / "old", files_ / "new" / "majv4");
        scenario_.Server().ServeFolder(files_ / "new");
        scenario_.Server().SetVersionPage(kNewVersion);
        scenario_.Server().SetBandwidth(kLinkBytesPerSecond);
        std::vector<double> alone, running, downtime;
        int notInstalled = 0;
        for (int round = 0; round < rounds; ++round) {
            for (const bool withApplication : {round % 2 == 0, round % 2 != 0}) {
                const UpdaterRun run = RunUpdate(release, {}, withApplication);
                notInstalled += run.installed ? 0 : 1;
                (withApplication ? running : alone).push_back(run.seconds);
                if (withApplication)
                    downtime.push_back(run.downtime.value_or(-1));
            }
            std::fprintf(stderr, "round %d: update %.2f s alone, %.2f s with the application, downtime %.2f s\n",
                         round + 1, alone.back(), running.back(), downtime.back());
        }
        const double mib = static_cast<double>(TotalSize(release)) / (1024 * 1024);
        std::printf("Application downtime: 7 files, %.1f MiB, link limited to 100 Mbit/s, %d rounds (medians)\n", mib,
                    rounds);
        std::printf("%-52s %10s %10s %8s\n", "measure", "seconds", "goal", "verdict");
        std::printf("%-52s %10.2f %10s %8s\n", "update, the application not running", Median(alone), "-", "-");
        std::printf("%-52s %10.2f %10s %8s\n", "update, the application running", Median(running), "-", "-");
        const double change = Median(running) / Median(alone);
        std::printf("%-52s %10.3f %10s %8s\n", "running / not running", change, "<= 1.05", Verdict(change <= 1.05));
        std::printf("%-52s %10.2f %10s %8s\n", "downtime: close request to the new start", Median(downtime), "<= 2",
                    Verdict(Median(downtime) >= 0 && Median(downtime) <= 2));
        std::printf("runs that did not install the new release: %d\n", notInstalled);
    }

    // Signed releases against the same installed one: the whole files, then the same release with
    // its patches (the current files skipped), a release that changes the executable alone, and the
    // release with every patch missing (the fallback to whole files).
    void Patches(int rounds) {
        const UnmanagedWindows unmanaged(scenario_.Session());
        const std::vector<ReleaseFile> release = RealisticRelease();
        WriteRelease(release, files_ / "old", files_ / "unused");
        fs::remove_all(files_ / "unused");
        const fs::path whole = files_ / "whole" / "majv4";
        const fs::path patched = files_ / "patched" / "majv4";
        const fs::path executable = files_ / "executable" / "majv4";
        WriteChangedRelease(release, files_ / "old", whole, false);
        WriteChangedRelease(release, files_ / "old", patched, false);
        WriteChangedRelease(release, files_ / "old", executable, true);
        const auto signing = Clock::now();
        SignRelease(whole, kNewVersion);
        SignRelease(patched, kNewVersion, TestReleaseKey(), {files_ / "old"});
        const double signingSeconds = Seconds(Clock::now() - signing);
        SignRelease(executable, kNewVersion, TestReleaseKey(), {files_ / "old"});
        const std::string updater = PlaceUpdaterCopy(SignedUpdaterExecutable(), kSignedUpdaterFolder);
        scenario_.Server().SetVersionPage(kNewVersion);
        scenario_.Server().SetBandwidth(kLinkBytesPerSecond);
        std::vector<std::string> patchPaths;
        for (const auto& entry : fs::recursive_directory_iterator(patched / "patches"))
            if (entry.is_regular_file())
                patchPaths.push_back("/majv4/" + fs::relative(entry.path(), patched).generic_string());

        struct Variant {
            const char* name;
            fs::path folder;
            bool patchesMissing;
            UpdaterSeries series;
            std::vector<double> mebibytes;
        };
        std::vector<Variant> variants{{"whole files", whole, false, {}, {}},
                                      {"patches, current files skipped", patched, false, {}, {}},
                                      {"Velmor.exe alone changed", executable, false, {}, {}},
                                      {"patches missing: whole files instead", patched, true, {}, {}}};
        for (int round = 0; round < rounds; ++round) {
            for (std::size_t turn = 0; turn < variants.size(); ++turn) {
                Variant& variant = variants[round % 2 == 0 ? turn : variants.size() - 1 - turn];
                scenario_.Server().ServeFolder(variant.folder.parent_path());
                for (const std::string& path : patchPaths) {
                    if (variant.patchesMissing)
                        scenario_.Server().Set(path, Reply::Status(404));
                    else
                        scenario_.Server().Remove(path);
                }
                scenario_.Server().ClearRequests();
                variant.series.Add(RunUpdate(release, updater, false, variant.folder));
                variant.mebibytes.push_back(static_cast<double>(BytesServed(variant)) / (1024 * 1024));
                std::fprintf(stderr, "round %d, %s: %.2f s, %.1f MiB\n", round + 1, variant.name,
                             variant.series.seconds.back(), variant.mebibytes.back());
            }
        }

        std::printf("Only what changed: signed releases of 7 files, %.1f MiB, link limited to 100 Mbit/s, %d rounds "
                    "(medians; click to end). Signing with patches took %.1f s.\n",
                    static_cast<double>(TotalSize(release)) / (1024 * 1024), rounds, signingSeconds);
        std::printf("%-44s %10s %12s %10s\n", "release", "seconds", "MiB fetched", "peak MiB");
        for (const Variant& variant : variants)
            std::printf("%-44s %10.2f %12.2f %10.1f\n", variant.name, Median(variant.series.seconds),
                        Median(variant.mebibytes), variant.series.peakKiB / 1024.0);
        const double full = Median(variants[0].series.seconds);
        const double bytesRatio = Median(variants[1].mebibytes) / Median(variants[0].mebibytes);
        const double timeRatio = Median(variants[1].series.seconds) / full;
        const double executableRatio = Median(variants[2].series.seconds) / full;
        std::size_t peakKiB = 0;
        int notInstalled = 0;
        for (const Variant& variant : variants) {
            peakKiB = std::max(peakKiB, variant.series.peakKiB);
            notInstalled += variant.series.notInstalled;
        }
        std::printf("%-52s %10s %10s %8s\n", "ratio", "measured", "goal", "verdict");
        std::printf("%-52s %10.4f %10s %8s\n", "bytes fetched, patched / whole", bytesRatio, "<= 0.1",
                    Verdict(bytesRatio <= 0.1));
        std::printf("%-52s %10.3f %10s %8s\n", "update time, patched / whole", timeRatio, "<= 0.2",
                    Verdict(timeRatio <= 0.2));
        std::printf("%-52s %10.3f %10s %8s\n", "update time, Velmor.exe alone / whole", executableRatio, "<= 0.1",
                    Verdict(executableRatio <= 0.1));
        std::printf("%-52s %10.3f %10s %8s\n", "update time, fallback / whole",
                    Median(variants[3].series.seconds) / full, "-", "-");
        std::printf("%-52s %10.1f %10s %8s\n", "peak memory, MiB", peakKiB / 1024.0, "< 48",
                    Verdict(peakKiB < 48 * 1024));
        std::printf("runs that did not install the new release: %d\n", notInstalled);
        std::printf("\nPhases of the update (trace points; medians of the rounds)\n");
        std::vector<bench::PhaseColumn> columns;
        for (const Variant& variant : variants)
            columns.push_back({variant.name, variant.series.phases});
        bench::PrintPhaseTable(columns);
        std::printf("\n");
        bench::PrintFileTable({"patched", variants[1].series.phases});
    }

    // A dropped connection costs only what it dropped: the clean update and the same with every answer
    // closed after 32 MiB of its body, alternating, then a signed run killed once the server has sent
    // half the release and the run after it.
    void Resume(int rounds) {
        constexpr std::size_t kDropEvery = 32 << 20;
        const UnmanagedWindows unmanaged(scenario_.Session());
        const std::vector<ReleaseFile> release = RealisticRelease();
        WriteRelease(release, files_ / "old", files_ / "new" / "majv4");
        SignRelease(files_ / "new" / "majv4", kNewVersion);
        const std::string signedUpdater = PlaceUpdaterCopy(SignedUpdaterExecutable(), kSignedUpdaterFolder);
        scenario_.Server().ServeFolder(files_ / "new");
        scenario_.Server().SetVersionPage(kNewVersion);
        scenario_.Server().SetBandwidth(kLinkBytesPerSecond);
        const double total = static_cast<double>(TotalSize(release));
        std::vector<double> cleanSeconds, droppedSeconds, cleanBytes, droppedBytes, afterKill;
        int notInstalled = 0;
        for (int round = 0; round < rounds; ++round) {
            for (const bool dropped : {round % 2 == 0, round % 2 != 0}) {
                scenario_.Server().LimitAnswerBytes(dropped ? kDropEvery : 0);
                const std::size_t before = BodyBytesSent(release);
                const UpdaterRun run = RunUpdate(release);
                notInstalled += run.installed ? 0 : 1;
                (dropped ? droppedSeconds : cleanSeconds).push_back(run.seconds);
                (dropped ? droppedBytes : cleanBytes).push_back(static_cast<double>(BodyBytesSent(release) - before));
            }
            scenario_.Server().LimitAnswerBytes(0);
            KillAtHalf(release, signedUpdater, total / 2);
            const std::size_t before = BodyBytesSent(release);
            notInstalled += RunUpdate(release, signedUpdater).installed ? 0 : 1;
            afterKill.push_back(static_cast<double>(BodyBytesSent(release) - before) / total);
            std::fprintf(stderr, "round %d: clean %.2f s, dropped every 32 MiB %.2f s, after a kill at half %.3f\n",
                         round + 1, cleanSeconds.back(), droppedSeconds.back(), afterKill.back());
        }
        const double timeRatio = Median(droppedSeconds) / Median(cleanSeconds);
        const double bytesRatio = Median(droppedBytes) / Median(cleanBytes);
        std::printf("Resumed downloads: 7 files, %.1f MiB, link limited to 100 Mbit/s, %d rounds (medians)\n",
                    total / (1024 * 1024), rounds);
        std::printf("%-52s %10s %10s %8s\n", "measure", "measured", "goal", "verdict");
        std::printf("%-52s %10.2f %10s %8s\n", "clean update, seconds", Median(cleanSeconds), "-", "-");
        std::printf("%-52s %10.2f %10s %8s\n", "dropped every 32 MiB, seconds", Median(droppedSeconds), "-", "-");
        std::printf("%-52s %10.3f %10s %8s\n", "time, dropped / clean", timeRatio, "<= 1.10", Verdict(timeRatio <= 1.10));
        std::printf("%-52s %10.3f %10s %8s\n", "bytes sent, dropped / clean", bytesRatio, "<= 1.02",
                    Verdict(bytesRatio <= 1.02));
        std::printf("%-52s %10.3f %10s %8s\n", "signed, killed at half: next run's bytes / release", Median(afterKill),
                    "<= 0.55", Verdict(Median(afterKill) <= 0.55));
        std::printf("runs that did not install the new release: %d\n", notInstalled);
    }

    std::size_t BodyBytesSent(const std::vector<ReleaseFile>& release) {
        std::size_t bytes = 0;
        for (const ReleaseFile& file : release)
            bytes += scenario_.Server().BodyBytesSent("/majv4/" + file.name);
        return bytes;
    }

    // The signed automatic run, killed once the server has sent that many bytes of the release.
    void KillAtHalf(const std::vector<ReleaseFile>& release, const std::string& updater, double half) {
        InstallOldRelease(release);
        SettleDisk();
        const std::size_t before = BodyBytesSent(release);
        WineProgram& program = scenario_.Start(updater, {}, kInstallFolder);
        const std::optional<WindowReport> offer = WaitForOffer(scenario_, std::chrono::seconds(60));
        if (!offer)
            throw std::runtime_error("the updater offered no update");
        ClickMiseAJour(scenario_, *offer);
        if (!WaitUntil([&] { return static_cast<double>(BodyBytesSent(release) - before) >= half; },
                       std::chrono::seconds(120), std::chrono::milliseconds(20)))
            throw std::runtime_error("the killed run never reached half the release");
        program.Kill();
    }

    void CheckLatency(int rounds, const std::optional<fs::path>& earlierExe) {
        scenario_.Server().SetVersionPage(kNewVersion);
        scenario_.PlaceVelmor("4.2.0.1", kInstallFolder);
        const std::string url = scenario_.Server().BaseUrl() + "/version.htm";
        const std::string earlierUpdater = earlierExe ? PlaceUpdaterCopy(*earlierExe, kEarlierUpdaterFolder) : "";
        const int runners = earlierExe ? 4 : 3;
        std::vector<double> updater, floor, windowedFloor, earlier;
        int offered = 0;
        // An unmeasured round first: the updater's copy is placed, the programs are in the page cache.
        for (int round = -1; round < rounds; ++round) {
            // They take turns at going first, so that a drift of the machine favours none.
            for (int turn = 0; turn < runners; ++turn) {
                const int which = (turn + round + 1) % runners;
                std::size_t ignored = 0;
                double seconds = 0;
                if (which == 0 || which == 3) {
                    const auto start = Clock::now();
                    WineProgram& program = which == 0 ? scenario_.StartAutomatic(kInstallFolder)
                                                      : scenario_.Start(earlierUpdater, {}, kInstallFolder);
                    seconds = SecondsToExit(program, start);
                    offered += program.WaitForExit(std::chrono::milliseconds(0)) || round < 0 ? 0 : 1;
                    program.Kill();
                } else {
                    std::vector<std::string> arguments{"-", url};
                    if (which == 2)
                        arguments.insert(arguments.begin(), "--window");
                    seconds = Floor(arguments, ignored, false);
                }
                if (round >= 0)
                    std::array{&updater, &floor, &windowedFloor, &earlier}[which]->push_back(seconds);
            }
        }
        std::printf("Check latency: automatic mode, no update needed, %d rounds (medians, process start to end "
                    "under Wine)\n",
                    rounds);
        std::printf("%-52s %10s\n", "run", "seconds");
        std::printf("%-52s %10.3f\n", "updater (version resource + /version.htm)", Median(updater));
        std::printf("%-52s %10.3f\n", "WinINet floor (one request of /version.htm)", Median(floor));
        std::printf("%-52s %10.3f\n", "WinINet floor with a hidden window first", Median(windowedFloor));
        if (earlierExe)
            std::printf("%-52s %10.3f\n", "earlier build (version resource + /version.htm)", Median(earlier));
        std::printf("%-52s %10s %10s %8s\n", "ratio", "measured", "goal", "verdict");
        const double ratio = Median(updater) / Median(floor);
        const double windowedRatio = Median(updater) / Median(windowedFloor);
        std::printf("%-52s %10.3f %10s %8s\n", "updater / floor", ratio, "<= 1.20", Verdict(ratio <= 1.2));
        std::printf("%-52s %10.3f %10s %8s\n", "updater / floor with a window (for reference)", windowedRatio, "-",
                    "-");
        std::printf("runs that did not end by themselves: %d\n", offered);
    }

    void HostileHeaders(int rounds, const std::optional<fs::path>& earlierExe) {
        scenario_.PlaceVelmor("4.2.0.1", kInstallFolder);
        struct Attack {
            const char* name;
            Reply reply;
        };
        const Attack attacks[] = {
            {"headers dripped, a byte every 5 s", Reply::DrippedHeaders(VersionPage(kNewVersion), 5s)},
            {"header lines without end", Reply::EndlessHeaderLines()},
        };
        std::printf("Hostile headers: interactive check, %d rounds (medians; start to \"Impossible de contr\xC3\xB4ler "
                    "les versions\" in the window, at most %lld s; peak resident memory of the whole run)\n",
                    rounds, static_cast<long long>(kVerdictWait.count()));
        std::printf("%-52s %10s %10s %10s %10s %8s\n", "run", "seconds", "goal", "peak MiB", "goal", "verdict");
        std::vector<std::pair<std::string, std::string>> builds{{"updater, ", ""}};
        if (earlierExe)
            builds.emplace_back("earlier build, ", PlaceUpdaterCopy(*earlierExe, kEarlierUpdaterFolder));
        for (const Attack& attack : attacks) {
            scenario_.Server().Set("/version.htm", attack.reply);
            for (const auto& [build, updater] : builds) {
                std::vector<double> seconds;
                std::size_t peakKiB = 0;
                int noVerdict = 0;
                for (int round = 0; round < rounds; ++round) {
                    const VerdictRun run = RunToVerdict(updater);
                    seconds.push_back(run.seconds);
                    peakKiB = std::max(peakKiB, run.peakKiB);
                    noVerdict += run.impossible ? 0 : 1;
                }
                const double peakMiB = static_cast<double>(peakKiB) / 1024;
                const bool met = noVerdict == 0 && Median(seconds) <= 75 && peakMiB < 96;
                std::printf("%-52s %10.1f %10s %10.1f %10s %8s", (build + attack.name).c_str(), Median(seconds),
                            "<= 75", peakMiB, "< 96", Verdict(met));
                std::printf(noVerdict > 0 ? " (%d runs without the verdict)\n" : "\n", noVerdict);
            }
        }
    }

private:
    static constexpr std::chrono::seconds kVerdictWait{120};
    static constexpr std::size_t kMemoryCapKiB = 2 * 1024 * 1024;

    struct VerdictRun {
        double seconds = 0;
        std::size_t peakKiB = 0;
        bool impossible = false;
    };

    // Until the window shows the check impossible, at most kVerdictWait, or until the program has
    // taken kMemoryCapKiB (a build that stores header lines without end would take the machine's).
    VerdictRun RunToVerdict(const std::string& updater) {
        const auto start = Clock::now();
        WineProgram& program = updater.empty() ? scenario_.StartInteractive(kInstallFolder)
                                               : scenario_.Start(updater, {"/interactif"}, kInstallFolder);
        VerdictRun run;
        std::optional<pid_t> pid;
        const auto samplePeak = [&] {
            if (!pid)
                pid = FindWineProcess(scenario_.Session(), "MAJLumoradex.exe");
            if (pid)
                run.peakKiB = std::max(run.peakKiB, PeakResidentKiB(*pid).value_or(0));
        };
        WaitUntil(
            [&] {
                samplePeak();
                const std::optional<WindowReport> window = scenario_.Inspect();
                const ControlReport* message = window ? UpdaterItems::Of(*window).message : nullptr;
                run.impossible = message && message->text == "Impossible de contr\xC3\xB4ler les versions";
                return run.impossible || run.peakKiB > kMemoryCapKiB;
            },
            kVerdictWait, std::chrono::milliseconds(100));
        run.seconds = Seconds(Clock::now() - start);
        // A verdict quicker than the process's first sighting: the peak is still there to read.
        samplePeak();
        program.Kill();
        return run;
    }

    void InstallOldRelease(const std::vector<ReleaseFile>& release) {
        const fs::path folder = scenario_.Linux(kInstallFolder);
        fs::create_directories(folder);
        for (const ReleaseFile& file : release)
            fs::copy_file(files_ / "old" / file.name, folder / file.name, fs::copy_options::overwrite_existing);
    }

    bool NewReleaseInstalled(const std::vector<ReleaseFile>& release, const fs::path& published) {
        for (const ReleaseFile& file : release) {
            const fs::path installed = scenario_.Linux(std::string(kInstallFolder) + "\\" + file.name);
            if (ReadWhole(installed) != ReadWhole(published / file.name))
                return false;
        }
        return true;
    }

    // What the server sent since its requests were cleared, by the size of each file it served.
    std::uintmax_t BytesServed(const auto& variant) {
        std::uintmax_t bytes = 0;
        for (const ReceivedRequest& request : scenario_.Server().Requests()) {
            const fs::path file = variant.folder.parent_path() / request.path.substr(1);
            std::error_code missing;
            const bool missingPatch = variant.patchesMissing && request.path.starts_with("/majv4/patches/");
            if (request.path != "/version.htm" && !missingPatch && fs::is_regular_file(file, missing))
                bytes += fs::file_size(file);
        }
        return bytes;
    }

    // Another build of the program, in a folder of its own on drive C:.
    std::string PlaceUpdaterCopy(const fs::path& program, const char* windowsFolder) {
        const fs::path folder = scenario_.Linux(windowsFolder);
        fs::create_directories(folder);
        fs::copy_file(program, folder / "MAJLumoradex.exe", fs::copy_options::overwrite_existing);
        return std::string(windowsFolder) + "\\MAJLumoradex.exe";
    }

    // The automatic run the application starts: offer, click, then the update to the end. The
    // updater placed by the scenario unless another is named; the application left running if asked.
    UpdaterRun RunUpdate(const std::vector<ReleaseFile>& release, const std::string& updater = {},
                         bool withApplication = false, std::optional<fs::path> published = std::nullopt) {
        InstallOldRelease(release);
        const std::string applicationLog = std::string(kInstallFolder) + "\\velmor.log";
        scenario_.Remove(applicationLog);
        if (withApplication) {
            scenario_.Start(std::string(kInstallFolder) + "\\Velmor.exe", {}, kInstallFolder);
            if (!scenario_.WaitForWindow("Lumoradex"))
                throw std::runtime_error("the application did not show its window");
        }
        SettleDisk();
        WineProgram& program =
            updater.empty() ? scenario_.StartAutomatic(kInstallFolder) : scenario_.Start(updater, {}, kInstallFolder);
        UpdaterRun run;
        const std::optional<WindowReport> offer = WaitForOffer(scenario_, std::chrono::seconds(60));
        const std::optional<pid_t> pid = FindWineProcess(scenario_.Session(), "MAJLumoradex.exe");
        if (!offer || !pid)
            throw std::runtime_error("the updater offered no update");
        const auto start = Clock::now();
        const double click = bench::TraceClockSeconds();
        ClickMiseAJour(scenario_, *offer);
        run.seconds = SecondsToExit(program, start, [&] {
            if (const std::optional<std::size_t> peak = PeakResidentKiB(*pid))
                run.peakKiB = std::max(run.peakKiB, *peak);
        });
        const double end = bench::TraceClockSeconds();
        program.Kill();
        if (withApplication) {
            // The new application writes its first record a moment after the updater has gone.
            std::vector<Record> log;
            WaitUntil([&] { return RecordsOfKind(log = scenario_.VelmorLog(kInstallFolder), "start").size() == 2; },
                      std::chrono::seconds(20));
            const std::vector<Record> closes = RecordsOfKind(log, "close");
            const std::vector<Record> starts = RecordsOfKind(log, "start");
            if (!closes.empty() && starts.size() == 2)
                run.downtime = (starts[1].Number("time_ms") - closes.front().Number("time_ms")) / 1000.0;
        }
        KillWineProcesses(scenario_.Session(), "Velmor.exe"); // the application it started
        run.installed = NewReleaseInstalled(release, published.value_or(files_ / "new" / "majv4"));
        run.phases = bench::PhasesOf(bench::ParseTrace(program.Output()), click, end);
        return run;
    }

    double Curl(const std::vector<std::string>& urls) {
        const fs::path folder = files_ / "curl";
        fs::remove_all(folder);
        fs::create_directories(folder);
        std::vector<std::string> argv{"curl", "--silent", "--show-error", "--fail"};
        for (const std::string& url : urls) {
            argv.push_back("-o");
            argv.push_back((folder / url.substr(url.find_last_of('/') + 1)).string());
            argv.push_back(url);
        }
        SettleDisk();
        const auto start = Clock::now();
        const CommandResult result = RunCommand(argv, scenario_.Session().Variables(), {}, std::chrono::minutes(10));
        const double seconds = Seconds(Clock::now() - start);
        if (result.exitCode != 0)
            throw std::runtime_error("curl failed");
        return seconds;
    }

    // The WinINet floor fetching the seven files into a folder that holds the old release, plainly
    // or as durably as the updater does.
    void RunFloor(const std::vector<ReleaseFile>& release, const std::vector<std::string>& urls, bool durable,
                  FloorSeries& series) {
        scenario_.Remove(kFloorFolder);
        const fs::path folder = scenario_.Linux(kFloorFolder);
        fs::create_directories(folder);
        for (const ReleaseFile& file : release)
            fs::copy_file(files_ / "old" / file.name, folder / file.name);
        SettleDisk();
        std::vector<std::string> arguments{kFloorFolder};
        if (durable)
            arguments.insert(arguments.begin(), "--durable");
        arguments.insert(arguments.end(), urls.begin(), urls.end());
        std::size_t peakKiB = 0;
        series.seconds.push_back(Floor(arguments, peakKiB));
        series.peakKiB = std::max(series.peakKiB, peakKiB);
        for (const ReleaseFile& file : release) {
            if (ReadWhole(folder / file.name) != ReadWhole(files_ / "new" / "majv4" / file.name))
                throw std::runtime_error("the WinINet floor did not fetch " + file.name);
        }
    }

    // The WinINet floor with its arguments (an output folder or "-", then URLs), start to end.
    // Watching its memory scans /proc: only for runs long enough not to feel it.
    double Floor(const std::vector<std::string>& arguments, std::size_t& peakKiB, bool watchMemory = true) {
        const std::string floorExe =
            scenario_.Session().ToWindows(WindowsBuildFolder() / "bench" / "wininet_floor.exe");
        const auto start = Clock::now();
        WineProgram& program = scenario_.Start(floorExe, arguments, kScratchFolder);
        std::optional<pid_t> pid;
        const double seconds = SecondsToExit(program, start, [&] {
            if (watchMemory && !pid)
                pid = FindWineProcess(scenario_.Session(), "wininet_floor.exe");
            if (pid)
                peakKiB = std::max(peakKiB, PeakResidentKiB(*pid).value_or(0));
        });
        if (program.WaitForExit(std::chrono::milliseconds(0)) != 0)
            throw std::runtime_error("the WinINet floor failed");
        return seconds;
    }

    Scenario scenario_;
    fs::path files_;
};

int Run(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fputs("usage: lumoradex-bench throughput ROUNDS [EARLIER_EXE] | check ROUNDS [EARLIER_EXE] | "
                   "downtime ROUNDS | patches ROUNDS | resume ROUNDS | headers ROUNDS [EARLIER_EXE]\n",
                   stderr);
        return 2;
    }
    const std::string what = argv[1];
    const int rounds = std::stoi(argv[2]);
    const std::optional<fs::path> earlierExe = argc == 4 ? std::optional<fs::path>(argv[3]) : std::nullopt;
    Bench bench;
    if (what == "throughput")
        bench.Throughput(rounds, earlierExe);
    else if (what == "check")
        bench.CheckLatency(rounds, earlierExe);
    else if (what == "downtime")
        bench.Downtime(rounds);
    else if (what == "patches")
        bench.Patches(rounds);
    else if (what == "resume")
        bench.Resume(rounds);
    else if (what == "headers")
        bench.HostileHeaders(rounds, earlierExe);
    else
        throw std::invalid_argument("unknown benchmark " + what);
    return 0;
}

} // namespace
} // namespace lumoradex::e2e

int main(int argc, char** argv) {
    try {
        return lumoradex::e2e::Run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lumoradex-bench: %s\n", error.what());
        return 1;
    }
}
