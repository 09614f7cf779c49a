// lumoradex-bench: the updater's figures under Wine against the loopback server, each beside its
// reference, alternating within every round; prints tables of medians (see bench/run.sh).
//   lumoradex-bench throughput ROUNDS   update of the seven files of realistic size, click to end
//   lumoradex-bench check ROUNDS        automatic run with no update needed, start to end
// Runs in the Wine session named by LUMORADEX_WINE_STATE.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/e2e.h"
#include "tests/faults/release_files.h"
#include "tests/faults/updater_driving.h"

namespace lumoradex::e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kLinkBytesPerSecond = 100'000'000 / 8; // 100 Mbit/s
constexpr char kFloorFolder[] = "C:\\e2e\\floor";
constexpr char kSignedUpdaterFolder[] = "C:\\e2e\\signed";

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
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
double SecondsToExit(WineProgram& program, Clock::time_point start, const std::function<void()>& watch = [] {}) {
    const auto deadline = start + std::chrono::minutes(10);
    while (program.Running() && Clock::now() < deadline) {
        watch();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return Seconds(Clock::now() - start);
}

struct UpdaterRun {
    double seconds = 0;
    std::size_t peakKiB = 0;
    bool installed = false;
};

class Bench {
public:
    Bench() : files_(scenario_.Session().StateFolder() / "bench") {}

    void Throughput(int rounds) {
        const std::vector<ReleaseFile> release = RealisticRelease();
        WriteRelease(release, files_ / "old", files_ / "new" / "majv4");
        SignRelease(files_ / "new" / "majv4", kNewVersion);
        const std::string signedUpdater = PlaceSignedUpdater();
        scenario_.Server().ServeFolder(files_ / "new");
        scenario_.Server().SetVersionPage(kNewVersion);
        std::vector<std::string> urls;
        for (const ReleaseFile& file : release)
            urls.push_back(scenario_.Server().BaseUrl() + "/majv4/" + file.name);

        std::vector<double> updaterLink, curlLink, signedLink, updaterLoop, floorLoop, signedLoop;
        std::size_t peakKiB = 0, floorPeakKiB = 0;
        int failed = 0;
        auto update = [&](const std::string& updater, std::vector<double>& times) {
            const UpdaterRun run = RunUpdate(release, updater);
            failed += run.installed ? 0 : 1;
            times.push_back(run.seconds);
            peakKiB = std::max(peakKiB, run.peakKiB);
        };
        for (int round = 0; round < rounds; ++round) {
            // On each link the unsigned update, its reference and the signed update take turns, forwards
            // and backwards, so that a drift of the machine favours none of them.
            const bool forwards = round % 2 == 0;
            scenario_.Server().SetBandwidth(kLinkBytesPerSecond);
            for (int turn = 0; turn < 3; ++turn) {
                const int which = forwards ? turn : 2 - turn;
                if (which == 1)
                    curlLink.push_back(Curl(urls));
                else
                    update(which == 0 ? std::string() : signedUpdater, which == 0 ? updaterLink : signedLink);
            }
            scenario_.Server().SetBandwidth(0);
            for (int turn = 0; turn < 3; ++turn) {
                const int which = forwards ? turn : 2 - turn;
                if (which == 1) {
                    std::size_t floorKiB = 0;
                    scenario_.Remove(kFloorFolder);
                    scenario_.CreateFolder(kFloorFolder);
                    std::vector<std::string> arguments{kFloorFolder};
                    arguments.insert(arguments.end(), urls.begin(), urls.end());
                    floorLoop.push_back(Floor(arguments, floorKiB));
                    floorPeakKiB = std::max(floorPeakKiB, floorKiB);
                } else {
                    update(which == 0 ? std::string() : signedUpdater, which == 0 ? updaterLoop : signedLoop);
                }
            }
            std::fprintf(stderr,
                         "round %d: updater %.2f s / curl %.2f s / signed %.2f s (100 Mbit/s); updater %.2f s / "
                         "floor %.2f s / signed %.2f s\n",
                         round + 1, updaterLink.back(), curlLink.back(), signedLink.back(), updaterLoop.back(),
                         floorLoop.back(), signedLoop.back());
        }

        const double mib = static_cast<double>(TotalSize(release)) / (1024 * 1024);
        const double ratioLink = Median(updaterLink) / Median(curlLink);
        const double ratioLoop = Median(updaterLoop) / Median(floorLoop);
        const double ratioSignedLink = Median(signedLink) / Median(updaterLink);
        const double ratioSigned = Median(signedLoop) / Median(updaterLoop);
        std::printf("Update throughput: 7 files, %.1f MiB, %d rounds (medians; updater timed from the click on "
                    "\"Mettre a jour\" to its process end, references from their start to their end)\n",
                    mib, rounds);
        std::printf("%-44s %10s %10s\n", "run", "seconds", "MiB/s");
        auto row = [&](const char* name, const std::vector<double>& times) {
            std::printf("%-44s %10.2f %10.1f\n", name, Median(times), mib / Median(times));
        };
        row("updater, link limited to 100 Mbit/s", updaterLink);
        row("curl, link limited to 100 Mbit/s", curlLink);
        row("updater with a key, signed release, 100 Mbit/s", signedLink);
        row("updater, unthrottled loopback", updaterLoop);
        row("WinINet floor under Wine, unthrottled", floorLoop);
        row("updater with a key, signed release, unthrottled", signedLoop);
        std::printf("%-44s %10s %10s %8s\n", "ratio", "measured", "goal", "verdict");
        std::printf("%-44s %10.3f %10s %8s\n", "updater / curl (100 Mbit/s)", ratioLink, "<= 1.10",
                    Verdict(ratioLink <= 1.1));
        std::printf("%-44s %10.3f %10s %8s\n", "updater / WinINet floor (unthrottled)", ratioLoop, "<= 1.20",
                    Verdict(ratioLoop <= 1.2));
        std::printf("%-44s %10.3f %10s %8s\n", "signed / unsigned update (100 Mbit/s)", ratioSignedLink, "-", "-");
        std::printf("%-44s %10.3f %10s %8s\n", "signed / unsigned update (unthrottled)", ratioSigned, "<= 1.05",
                    Verdict(ratioSigned <= 1.05));
        std::printf("\nMemory: peak resident set (VmHWM) of the Wine process\n");
        std::printf("%-44s %10s %10s %8s\n", "process", "MiB", "goal", "verdict");
        std::printf("%-44s %10.1f %10s %8s\n", "MAJLumoradex.exe, whole update", peakKiB / 1024.0, "< 32",
                    Verdict(peakKiB < 32 * 1024));
        std::printf("%-44s %10.1f %10s %8s\n", "wininet_floor.exe, same seven files", floorPeakKiB / 1024.0, "-", "-");
        std::printf("%-44s %10.1f\n", "largest file (XVelmor.mdb)", 128.0);
        std::printf("runs that did not install the new release: %d\n", failed);
    }

    void CheckLatency(int rounds) {
        scenario_.Server().SetVersionPage(kNewVersion);
        scenario_.PlaceVelmor("4.2.0.1", kInstallFolder);
        const std::string url = scenario_.Server().BaseUrl() + "/version.htm";
        std::vector<double> updater, floor, windowedFloor;
        int offered = 0;
        // An unmeasured round first: the updater's copy is placed, the programs are in the page cache.
        for (int round = -1; round < rounds; ++round) {
            // The three take turns at going first, so that a drift of the machine favours none.
            for (int turn = 0; turn < 3; ++turn) {
                const int which = (turn + round + 1) % 3;
                std::size_t ignored = 0;
                double seconds = 0;
                if (which == 0) {
                    const auto start = Clock::now();
                    WineProgram& program = scenario_.StartAutomatic(kInstallFolder);
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
                    (which == 0 ? updater : which == 1 ? floor : windowedFloor).push_back(seconds);
            }
        }
        std::printf("Check latency: automatic mode, no update needed, %d rounds (medians, process start to end "
                    "under Wine)\n",
                    rounds);
        std::printf("%-52s %10s\n", "run", "seconds");
        std::printf("%-52s %10.3f\n", "updater (version resource + /version.htm)", Median(updater));
        std::printf("%-52s %10.3f\n", "WinINet floor (one request of /version.htm)", Median(floor));
        std::printf("%-52s %10.3f\n", "WinINet floor with a hidden window first", Median(windowedFloor));
        std::printf("%-52s %10s %10s %8s\n", "ratio", "measured", "goal", "verdict");
        const double ratio = Median(updater) / Median(floor);
        const double windowedRatio = Median(updater) / Median(windowedFloor);
        std::printf("%-52s %10.3f %10s %8s\n", "updater / floor", ratio, "<= 1.20", Verdict(ratio <= 1.2));
        std::printf("%-52s %10.3f %10s %8s\n", "updater / floor with a window (for reference)", windowedRatio, "-",
                    "-");
        std::printf("runs that did not end by themselves: %d\n", offered);
    }

private:
    void InstallOldRelease(const std::vector<ReleaseFile>& release) {
        const fs::path folder = scenario_.Linux(kInstallFolder);
        fs::create_directories(folder);
        for (const ReleaseFile& file : release)
            fs::copy_file(files_ / "old" / file.name, folder / file.name, fs::copy_options::overwrite_existing);
    }

    bool NewReleaseInstalled(const std::vector<ReleaseFile>& release) {
        for (const ReleaseFile& file : release) {
            const fs::path installed = scenario_.Linux(std::string(kInstallFolder) + "\\" + file.name);
            if (ReadWhole(installed) != ReadWhole(files_ / "new" / "majv4" / file.name))
                return false;
        }
        return true;
    }

    // The program built with the test release key, beside the other one on drive C:.
    std::string PlaceSignedUpdater() {
        const fs::path folder = scenario_.Linux(kSignedUpdaterFolder);
        fs::create_directories(folder);
        fs::copy_file(SignedUpdaterExecutable(), folder / "MAJLumoradex.exe", fs::copy_options::overwrite_existing);
        return std::string(kSignedUpdaterFolder) + "\\MAJLumoradex.exe";
    }

    // The automatic run the application starts: offer, click, then the update to the end. The
    // updater placed by the scenario unless another is named.
    UpdaterRun RunUpdate(const std::vector<ReleaseFile>& release, const std::string& updater = {}) {
        InstallOldRelease(release);
        WineProgram& program =
            updater.empty() ? scenario_.StartAutomatic(kInstallFolder) : scenario_.Start(updater, {}, kInstallFolder);
        UpdaterRun run;
        const std::optional<WindowReport> offer = WaitForOffer(scenario_, std::chrono::seconds(60));
        const std::optional<pid_t> pid = FindWineProcess(scenario_.Session(), "MAJLumoradex.exe");
        if (!offer || !pid)
            throw std::runtime_error("the updater offered no update");
        const auto start = Clock::now();
        ClickMiseAJour(scenario_, *offer);
        run.seconds = SecondsToExit(program, start, [&] {
            if (const std::optional<std::size_t> peak = PeakResidentKiB(*pid))
                run.peakKiB = std::max(run.peakKiB, *peak);
        });
        program.Kill();
        KillWineProcesses(scenario_.Session(), "Velmor.exe"); // the application it started
        run.installed = NewReleaseInstalled(release);
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
        const auto start = Clock::now();
        const CommandResult result = RunCommand(argv, scenario_.Session().Variables(), {}, std::chrono::minutes(10));
        const double seconds = Seconds(Clock::now() - start);
        if (result.exitCode != 0)
            throw std::runtime_error("curl failed");
        return seconds;
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
    if (argc != 3) {
        std::fputs("usage: lumoradex-bench throughput|check ROUNDS\n", stderr);
        return 2;
    }
    const std::string what = argv[1];
    const int rounds = std::stoi(argv[2]);
    Bench bench;
    if (what == "throughput")
        bench.Throughput(rounds);
    else if (what == "check")
        bench.CheckLatency(rounds);
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
