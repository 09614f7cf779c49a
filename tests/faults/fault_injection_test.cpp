// Fault injection: the real updater under Wine, killed at random moments of an update, against a
// server that fails in every way the network can, and against local files it cannot replace.
// Whatever happens, every installed file stays wholly old or wholly new, and the window says
// whether the update failed.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/e2e.h"
#include "tests/faults/release_files.h"
#include "tests/faults/updater_driving.h"

namespace lumoradex::e2e {
namespace {

namespace fs = std::filesystem;

constexpr char kWorkFolder[] = "C:\\e2e\\work";
constexpr char kFaultyFile[] = "MailLink.exe";

std::string Join(std::string_view folder, std::string_view name) {
    return std::string(folder) + "\\" + std::string(name);
}

std::string ReadWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int EnvironmentNumber(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

enum class Content { Old, New, Missing, Other };

const char* Describe(Content content) {
    switch (content) {
    case Content::Old:
        return "old";
    case Content::New:
        return "new";
    case Content::Missing:
        return "missing";
    case Content::Other:
        return "neither old nor new";
    }
    return "?";
}

class FaultInjection : public ::testing::Test {
protected:
    // The application an automatic run started has a process group of its own.
    ~FaultInjection() override { KillWineProcesses(scenario.Session(), "Velmor.exe"); }

    static void SetUpTestSuite() {
        files_ = new fs::path(WineSession::FromEnvironment().StateFolder() / "faults");
        WriteRelease(SmallRelease(), *files_ / "old", *files_ / "new" / "majv4");
        // Served to every test, read only by the program built with the test release key.
        SignRelease(*files_ / "new" / "majv4", kNewVersion);
    }
    static void TearDownTestSuite() {
        delete files_;
        files_ = nullptr;
    }

    void InstallOldRelease(std::string_view folder) {
        const fs::path target = scenario.Linux(folder);
        fs::create_directories(target);
        for (const ReleaseFile& file : SmallRelease())
            fs::copy_file(*files_ / "old" / file.name, target / file.name, fs::copy_options::overwrite_existing);
    }
    void PublishNewRelease() {
        scenario.Server().ServeFolder(*files_ / "new");
        scenario.Server().SetVersionPage(kNewVersion);
    }
    std::string OldBytes(const std::string& name) const { return ReadWhole(*files_ / "old" / name); }
    std::string NewBytes(const std::string& name) const { return ReadWhole(*files_ / "new" / "majv4" / name); }

    Content ContentOf(std::string_view folder, const std::string& name) {
        const fs::path file = scenario.Linux(Join(folder, name));
        std::error_code error;
        if (!fs::is_regular_file(file, error))
            return Content::Missing;
        const std::string bytes = ReadWhole(file);
        if (bytes == OldBytes(name))
            return Content::Old;
        if (bytes == NewBytes(name))
            return Content::New;
        return Content::Other;
    }
    void ExpectRelease(std::string_view folder, Content expected, const std::string& except = {},
                       Content exceptContent = Content::Old) {
        for (const ReleaseFile& file : SmallRelease()) {
            const Content wanted = file.name == except ? exceptContent : expected;
            EXPECT_EQ(ContentOf(folder, file.name), wanted)
                << Join(folder, file.name) << " is " << Describe(ContentOf(folder, file.name));
        }
    }
    std::vector<std::string> TemporaryFiles(std::string_view folder) {
        std::vector<std::string> found;
        for (const std::string& entry : scenario.FolderEntries(folder)) {
            if (entry.starts_with("New") || entry.starts_with("Old"))
                found.push_back(entry);
        }
        return found;
    }

    // Starts the updater in interactive mode, waits for its verdict, clicks "Mettre à jour" (shown
    // from the start in that mode) and returns the result message; empty when none came.
    std::string InteractiveUpdate(std::string_view workingFolder, std::chrono::milliseconds timeout = 90s) {
        WineProgram& updater = scenario.StartInteractive(workingFolder);
        std::optional<WindowReport> window;
        const bool checked = WaitUntil(
            [&] {
                window = scenario.Inspect();
                if (!window || !window->visible)
                    return false;
                const UpdaterItems items = UpdaterItems::Of(*window);
                return items.message != nullptr && !items.message->text.empty() &&
                       !items.message->text.starts_with("Veuillez patienter");
            },
            30s, 50ms);
        if (!checked) {
            ADD_FAILURE() << "the check did not end: " << (window ? window->raw : "no window");
            return {};
        }
        ClickMiseAJour(scenario, *window);
        const std::string message = WaitForResultMessage(scenario, timeout);
        updater.Kill();
        KillWineProcesses(scenario.Session(), "Velmor.exe"); // started when the kill came after the end
        return message;
    }

    void KillAtRandomMoments(int trials, bool resumedKills);

    static fs::path* files_;
    Scenario scenario;
};

fs::path* FaultInjection::files_ = nullptr;

// --- kill at any moment -------------------------------------------------------------------------

// Kills the updater at random moments of an update, then lets a later run install it.
void FaultInjection::KillAtRandomMoments(int trials, bool resumedKills) {
    const unsigned seed = static_cast<unsigned>(EnvironmentNumber("LUMORADEX_KILL_SEED", std::random_device{}()));
    std::mt19937 random(seed);
    PublishNewRelease();
    // Throttled so that a kill lands as often in a download as in the renames and mirror copies.
    scenario.Server().SetBandwidth(16 * 1024 * 1024);
    // Without it, Wine's 2 s wait for a window manager at the re-check, when every file is settled,
    // would take three quarters of the moments drawn.
    const UnmanagedWindows unmanaged(scenario.Session());

    // One whole run first, to know how long an update lasts from the click to the end.
    InstallOldRelease(kWorkFolder);
    InstallOldRelease(kInstallFolder);
    WineProgram& first = scenario.StartAutomatic(kWorkFolder);
    std::optional<WindowReport> offer = WaitForOffer(scenario, 30s);
    ASSERT_TRUE(offer) << "no update offered";
    const auto clicked = std::chrono::steady_clock::now();
    ClickMiseAJour(scenario, *offer);
    ASSERT_TRUE(first.WaitForExit(120s)) << "the whole run did not end";
    const auto wholeRun = std::chrono::steady_clock::now() - clicked;
    KillWineProcesses(scenario.Session(), "Velmor.exe");
    ExpectRelease(kWorkFolder, Content::New);
    ExpectRelease(kInstallFolder, Content::New);

    std::uniform_int_distribution<long> moment(0, std::chrono::duration_cast<std::chrono::milliseconds>(wholeRun).count());
    int violations = 0;
    int notInstalledLater = 0;
    for (int trial = 0; trial < trials; ++trial) {
        InstallOldRelease(kWorkFolder);
        InstallOldRelease(kInstallFolder);
        for (const char* folder : {kWorkFolder, kInstallFolder}) {
            for (const std::string& temporary : TemporaryFiles(folder))
                scenario.Remove(Join(folder, temporary));
        }
        std::chrono::milliseconds delay{0};
        // Signed, a killed run keeps what it received and the next goes on with it: that one is
        // killed too, during the downloads it resumes.
        for (int kill = 0; kill < (resumedKills ? 2 : 1); ++kill) {
            if (kill == 1 && ContentOf(kWorkFolder, "Velmor.exe") == Content::New)
                break; // the first kill came once the update was installed: no update is offered
            WineProgram& updater = scenario.StartAutomatic(kWorkFolder);
            offer = WaitForOffer(scenario, 30s);
            ASSERT_TRUE(offer) << "trial " << trial << ": no update offered";
            delay = std::chrono::milliseconds(moment(random));
            ClickMiseAJour(scenario, *offer);
            std::this_thread::sleep_for(delay);
            updater.Kill();
            KillWineProcesses(scenario.Session(), "Velmor.exe"); // started when the kill came after the end

            // Every file wholly old or new; a folder whose Velmor.exe is new wholly new, and both
            // folders wholly new once the working folder's is: the version the next start reads is
            // new only once everything else is.
            const bool workingExecutableNew = ContentOf(kWorkFolder, "Velmor.exe") == Content::New;
            for (const char* folder : {kWorkFolder, kInstallFolder}) {
                const bool wholeRelease = workingExecutableNew || ContentOf(folder, "Velmor.exe") == Content::New;
                for (const ReleaseFile& file : SmallRelease()) {
                    const Content content = ContentOf(folder, file.name);
                    if (content == Content::Missing || content == Content::Other ||
                        (wholeRelease && content != Content::New)) {
                        ++violations;
                        std::cout << "trial " << trial << " (kill " << kill + 1 << ", " << delay.count()
                                  << " ms after the click): " << Join(folder, file.name) << " is "
                                  << Describe(content) << (wholeRelease ? " beside a new Velmor.exe" : "")
                                  << std::endl;
                    }
                }
            }
        }
        // A next run that fails (its first download cut off) first finishes what the kill left:
        // each folder is then wholly old or wholly new.
        KillWineProcesses(scenario.Session(), "Velmor.exe");
        scenario.Server().Set("/majv4/Velmor.prm", Reply::ResetMidBody(NewBytes("Velmor.prm"), 100));
        InteractiveUpdate(kWorkFolder);
        scenario.Server().Remove("/majv4/Velmor.prm");
        for (const char* folder : {kWorkFolder, kInstallFolder}) {
            std::set<Content> contents;
            for (const ReleaseFile& file : SmallRelease())
                contents.insert(ContentOf(folder, file.name));
            if (contents != std::set<Content>{Content::Old} && contents != std::set<Content>{Content::New}) {
                ++violations;
                std::cout << "trial " << trial << " (killed " << delay.count() << " ms after the click): " << folder
                          << " is not one whole release after a failed next run" << std::endl;
            }
        }
        // A later run, started by hand so that it updates even when the killed one had already
        // installed the new Velmor.exe, installs the whole update in both folders. A Velmor.exe the
        // killed run started at its very end may show up only now: left running, it would hold its
        // file through the later run's commit.
        KillWineProcesses(scenario.Session(), "Velmor.exe");
        const std::vector<std::string> leftInWork = TemporaryFiles(kWorkFolder);
        const std::vector<std::string> leftInInstallation = TemporaryFiles(kInstallFolder);
        EXPECT_EQ(InteractiveUpdate(kWorkFolder), kUpdateOk)
            << "trial " << trial << " (killed " << delay.count() << " ms after the click), left: "
            << ::testing::PrintToString(leftInWork) << " " << ::testing::PrintToString(leftInInstallation);
        for (const char* folder : {kWorkFolder, kInstallFolder}) {
            for (const ReleaseFile& file : SmallRelease())
                notInstalledLater += ContentOf(folder, file.name) == Content::New ? 0 : 1;
        }
    }
    std::cout << "kill trials: " << trials << " (seed " << seed << ", kills within " << moment.max()
              << " ms of the click), violations: " << violations
              << ", files not installed by the later run: " << notInstalledLater << std::endl;
    EXPECT_EQ(violations, 0);
    EXPECT_EQ(notInstalledLater, 0);
}

TEST_F(FaultInjection, KilledAtAnyMomentEveryFileIsWhollyOldOrNewAndALaterRunInstallsTheUpdate) {
    KillAtRandomMoments(EnvironmentNumber("LUMORADEX_KILL_TRIALS", 20), false);
}

// Hashing while the bytes stream in, checking before the rename, and going on with what a killed run
// received keep the same guarantee.
TEST_F(FaultInjection, SignedReleaseKilledAtAnyMomentEveryFileIsWhollyOldOrNew) {
    scenario.UseUpdater(SignedUpdaterExecutable());
    KillAtRandomMoments(EnvironmentNumber("LUMORADEX_SIGNED_KILL_TRIALS", 5), true);
}

// --- network faults -----------------------------------------------------------------------------

struct NetworkFault {
    std::string name;
    std::function<Reply(const std::string& newBytes)> reply; // for MailLink.exe; empty: server gone
    std::string message;
};

void PrintTo(const NetworkFault& fault, std::ostream* out) {
    *out << fault.name;
}

class NetworkFaults : public FaultInjection, public ::testing::WithParamInterface<NetworkFault> {};

// One file answered with the fault, the six others served normally: the faulty file keeps its old
// content, nothing is lost, and no temporary file is left (a failed transfer removes its own; a
// rejected download is deleted like any other).
TEST_P(NetworkFaults, NoInstalledFileIsDamagedAndTheWindowSaysWhatHappened) {
    const NetworkFault& fault = GetParam();
    InstallOldRelease(kInstallFolder);
    PublishNewRelease();
    if (fault.reply)
        scenario.Server().Set(std::string("/majv4/") + kFaultyFile, fault.reply(NewBytes(kFaultyFile)));

    std::string message;
    if (fault.reply) {
        message = InteractiveUpdate(kInstallFolder, 150s); // a stall: two attempts over 100 s
        // A file left out by the server leaves the rest to install; a failure installs nothing.
        if (fault.message == kUpdateOk)
            ExpectRelease(kInstallFolder, Content::New, kFaultyFile, Content::Old);
        else
            ExpectRelease(kInstallFolder, Content::Old);
    } else {
        // Connection refused: the server goes away between the check and the click.
        scenario.StartInteractive(kInstallFolder);
        const std::optional<WindowReport> offer = WaitForOffer(scenario, 30s);
        ASSERT_TRUE(offer);
        scenario.StopServer();
        ClickMiseAJour(scenario, *offer);
        message = WaitForResultMessage(scenario, 60s);
        ExpectRelease(kInstallFolder, Content::Old);
    }
    EXPECT_EQ(message, fault.message);
    EXPECT_TRUE(TemporaryFiles(kInstallFolder).empty()) << TemporaryFiles(kInstallFolder).front();
}

Reply ErrorPageOf(int status, std::size_t size) {
    return Reply::Status(status, std::string(size, 'e'));
}

std::vector<NetworkFault> AllNetworkFaults() {
    std::vector<NetworkFault> faults{
        {"ConnectionRefused", nullptr, kUpdateFailed},
        {"StallPastTheTimeOut", [](const std::string&) { return Reply::Stall(); }, kUpdateFailed},
        {"ResetMidBody", [](const std::string& bytes) { return Reply::ResetMidBody(bytes, bytes.size() / 2); },
         kUpdateFailed},
        {"BodyShorterThanItsLength", [](const std::string& bytes) { return Reply::CutShort(bytes, bytes.size() / 2); },
         kUpdateFailed},
        {"RedirectToAMissingFile", [](const std::string&) { return Reply::Redirect("/majv4/missing.bin"); },
         kUpdateOk},
    };
    // Error pages are rejections, not failures: the other files make the update complete. A
    // 1 000 000-byte page lies within the size ratio of the old file and must still be refused.
    for (int status : {404, 500}) {
        for (std::size_t size : {0u, 200u, 1000u, 1000000u}) {
            faults.push_back({"Status" + std::to_string(status) + "Page" + std::to_string(size) + "Bytes",
                              [status, size](const std::string&) { return ErrorPageOf(status, size); }, kUpdateOk});
        }
    }
    return faults;
}

INSTANTIATE_TEST_SUITE_P(Matrix, NetworkFaults, ::testing::ValuesIn(AllNetworkFaults()),
                         [](const ::testing::TestParamInfo<NetworkFault>& info) { return info.param.name; });

// --- local faults -------------------------------------------------------------------------------

// A copy of the fixture application, elsewhere, that holds a file without sharing and ignores
// close requests; returns once the file is held.
void HoldWithoutSharing(Scenario& scenario, std::string_view path) {
    const std::string holder = scenario.PlaceVelmor("4.2.0.0", "C:\\e2e\\holder");
    scenario.Start(holder, {"--lock=" + std::string(path), "--ignore-close", "--hidden", "--lifetime=120000"});
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const Record& record : scenario.VelmorLog("C:\\e2e\\holder")) {
                if (record.kind == "lock" && record.Get("ok") == "1")
                    return true;
            }
            return false;
        },
        30s));
}

// The whole release or none: the files replaced before the locked one are put back.
TEST_F(FaultInjection, AFileLockedWithoutSharingKeepsTheWholeOldReleaseAndTheFailureIsReported) {
    InstallOldRelease(kInstallFolder);
    PublishNewRelease();
    HoldWithoutSharing(scenario, Join(kInstallFolder, "socle.mdb"));
    EXPECT_EQ(InteractiveUpdate(kInstallFolder), kUpdateFailed);
    ExpectRelease(kInstallFolder, Content::Old);
    // The held file's second name cannot go while it is held: the next run removes it.
    for (const std::string& left : TemporaryFiles(kInstallFolder))
        EXPECT_EQ(left, "Oldsocle.mdb");
}

TEST_F(FaultInjection, TheRunningApplicationKeepsTheWholeOldReleaseAndTheFailureIsReported) {
    InstallOldRelease(kInstallFolder);
    PublishNewRelease();
    scenario.Start(Join(kInstallFolder, "Velmor.exe"), {"--ignore-close", "--lifetime=120000"}, kInstallFolder);
    ASSERT_TRUE(scenario.WaitForWindow(kApplicationTitle, 30s));
    EXPECT_EQ(InteractiveUpdate(kInstallFolder), kUpdateFailed);
    ExpectRelease(kInstallFolder, Content::Old);
    for (const std::string& left : TemporaryFiles(kInstallFolder))
        EXPECT_EQ(left, "OldVelmor.exe"); // a running executable's names cannot be removed
}

// The installation folder made read-only the way a user without rights to it meets it: Wine
// ignores the read-only attribute for a root user and Linux ignores file modes for root, so the
// folder becomes a read-only bind mount of itself (root with the right to mount; skipped otherwise).
class ReadOnlyMount {
public:
    explicit ReadOnlyMount(fs::path folder) : folder_(std::move(folder)) {
        const Environment environment = EnvironmentWith({});
        mounted_ = RunCommand({"mount", "--bind", folder_.string(), folder_.string()}, environment).exitCode == 0;
        readOnly_ = mounted_ && RunCommand({"mount", "-o", "remount,bind,ro", folder_.string()}, environment).exitCode == 0;
    }
    ReadOnlyMount(const ReadOnlyMount&) = delete;
    ReadOnlyMount& operator=(const ReadOnlyMount&) = delete;
    ~ReadOnlyMount() {
        if (mounted_)
            RunCommand({"umount", folder_.string()}, EnvironmentWith({}));
    }
    bool ReadOnly() const { return readOnly_; }

private:
    fs::path folder_;
    bool mounted_ = false;
    bool readOnly_ = false;
};

TEST_F(FaultInjection, AReadOnlyInstallationFolderLosesNothingAndTheFailureIsReported) {
    InstallOldRelease(kWorkFolder);
    InstallOldRelease(kInstallFolder);
    PublishNewRelease();
    std::string message;
    {
        ReadOnlyMount readOnly(scenario.Linux(kInstallFolder));
        if (!readOnly.ReadOnly())
            GTEST_SKIP() << "cannot mount the installation folder read-only here (root with CAP_SYS_ADMIN needed)";
        message = InteractiveUpdate(kWorkFolder);
    }
    EXPECT_EQ(message, kUpdateFailed);
    ExpectRelease(kWorkFolder, Content::Old);
    ExpectRelease(kInstallFolder, Content::Old);
    EXPECT_TRUE(TemporaryFiles(kWorkFolder).empty());
    EXPECT_TRUE(TemporaryFiles(kInstallFolder).empty());
}

} // namespace
} // namespace lumoradex::e2e
