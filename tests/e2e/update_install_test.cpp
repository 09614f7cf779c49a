// The update run end to end: the real updater under Wine clicks through an update against the
// loopback server, with the fixture application installed, running, or holding its files.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/e2e.h"

namespace lumoradex::e2e {
namespace {

const std::vector<std::string> kDataFiles{"Velmor.prm",   "VelmorA.prm", "VelmorE.prm",
                                          "MailLink.exe", "XVelmor.mdb", "socle.mdb"};
constexpr char kWorkFolder[] = "C:\\e2e\\work";
constexpr char kOtherDriveFolder[] = "D:\\Lumoradex";
constexpr char kImpossible[] = "Impossible de contr\xC3\xB4ler les versions";

std::chrono::milliseconds TimeUntil(std::chrono::steady_clock::time_point deadline) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
}

std::string Join(std::string_view folder, std::string_view name) {
    return std::string(folder) + "\\" + std::string(name);
}

// Old and new releases of a data file: sizes within the plausible ratio of each other.
std::string OldBytes(const std::string& name) {
    std::string bytes = "old release of " + name + "\n";
    bytes.resize(1000, 'o');
    return bytes;
}
std::string NewBytes(const std::string& name) {
    std::string bytes = "new release of " + name + "\n";
    bytes.resize(1200, 'n');
    return bytes;
}

class UpdateInstall : public ::testing::Test {
protected:
    // Velmor 4.2.0 and the old data files in a folder.
    void InstallOldRelease(std::string_view folder) {
        scenario.PlaceVelmor("4.2.0.0", folder);
        for (const std::string& name : kDataFiles)
            scenario.WriteFile(Join(folder, name), OldBytes(name));
    }
    // Version 4.2.1 published, with all seven files.
    void PublishNewRelease() { PublishNewRelease(scenario.Server()); }
    void PublishNewRelease(UpdateServer& server) {
        server.SetVersionPage("4.2.1");
        for (const std::string& name : kDataFiles)
            server.SetFile(name, NewBytes(name));
        server.SetFile("Velmor.exe", Scenario::VelmorBytes("4.2.0.1"));
    }

    // Waits for the offer of the update and clicks "Mettre à jour"; false when none came.
    bool ClickUpdateOnceOffered() {
        const std::optional<WindowReport> offer = WaitForOffer(scenario, 20s);
        if (!offer) {
            ADD_FAILURE() << "no update offered";
            return false;
        }
        const UpdaterItems items = UpdaterItems::Of(*offer);
        scenario.Display().Click(offer->ScreenX(items.miseAJour->rect.CenterX()),
                                 offer->ScreenY(items.miseAJour->rect.CenterY()));
        return true;
    }

    // Clicks "Mettre à jour" once offered and waits for the run's result message.
    std::optional<WindowReport> ClickUpdateAndWaitForResult(std::chrono::milliseconds timeout = 60s) {
        if (!ClickUpdateOnceOffered())
            return std::nullopt;
        return WaitForResult(timeout);
    }

    // The window once it shows the run's result message, or as it was after the time-out. Meanwhile
    // the largest temporary file seen in the folder, if one is watched.
    std::optional<WindowReport> WaitForResult(std::chrono::milliseconds timeout,
                                              std::optional<std::string_view> watchedFolder = std::nullopt) {
        std::optional<WindowReport> result;
        WaitUntil(
            [&] {
                if (watchedFolder)
                    WatchTemporaries(*watchedFolder);
                result = scenario.Inspect();
                const UpdaterItems now = result ? UpdaterItems::Of(*result) : UpdaterItems{};
                return now.message != nullptr && now.message->text.starts_with("T\xC3\xA9l\xC3\xA9"
                                                                               "chargements");
            },
            timeout);
        return result;
    }

    void WatchTemporaries(std::string_view folder) {
        for (const std::string& entry : scenario.FolderEntries(folder)) {
            std::error_code unreadable;
            const std::uintmax_t size = std::filesystem::file_size(scenario.Linux(Join(folder, entry)), unreadable);
            if (entry.starts_with("New") && !unreadable)
                largestTemporary = std::max(largestTemporary, size);
        }
    }

    std::string MessageOf(const std::optional<WindowReport>& report) {
        const UpdaterItems items = report ? UpdaterItems::Of(*report) : UpdaterItems{};
        return items.message != nullptr ? items.message->text : "<no window>";
    }

    // Whether the folder holds every file of the new release, and no temporary file.
    void ExpectNewRelease(std::string_view folder, const std::vector<std::string>& except = {}) {
        for (const std::string& name : kDataFiles) {
            const bool excepted = std::find(except.begin(), except.end(), name) != except.end();
            EXPECT_EQ(scenario.ReadFile(Join(folder, name)), excepted ? OldBytes(name) : NewBytes(name))
                << Join(folder, name);
        }
        EXPECT_EQ(scenario.ReadFile(Join(folder, "Velmor.exe")), Scenario::VelmorBytes("4.2.0.1"));
        ExpectNoTemporaryFile(folder);
    }
    // The whole old release, as InstallOldRelease left it, and nothing of a run.
    void ExpectOldRelease(std::string_view folder) {
        for (const std::string& name : kDataFiles)
            EXPECT_EQ(scenario.ReadFile(Join(folder, name)), OldBytes(name)) << Join(folder, name);
        EXPECT_EQ(scenario.ReadFile(Join(folder, "Velmor.exe")), Scenario::VelmorBytes("4.2.0.0"));
        ExpectNoTemporaryFile(folder);
    }
    // Neither the new files staged for the commit nor the old ones kept aside during it.
    void ExpectNoTemporaryFile(std::string_view folder) {
        for (const std::string& entry : scenario.FolderEntries(folder))
            EXPECT_FALSE(entry.starts_with("New") || entry.starts_with("Old")) << "left in " << folder << ": " << entry;
    }

    Scenario scenario;
    std::uintmax_t largestTemporary = 0;
};

constexpr std::size_t kEndless = std::size_t{768} << 20; // far more than any run reads
constexpr std::size_t kTerabyte = std::size_t{1} << 40;
constexpr std::uintmax_t kFewMebibytes = 4 << 20;

// --- interactive runs --------------------------------------------------------------------------

TEST_F(UpdateInstall, InteractiveRunInstallsEveryFileAndReportsSuccess) {
    InstallOldRelease(kInstallFolder);
    scenario.WriteFile(Join(kInstallFolder, "NewVelmor.exe"), "left over by an interrupted run");
    PublishNewRelease();
    WineProgram& updater = scenario.StartInteractive(kInstallFolder);

    const std::optional<WindowReport> result = ClickUpdateAndWaitForResult();
    ASSERT_EQ(MessageOf(result), kUpdateOk);
    const UpdaterItems items = UpdaterItems::Of(*result);
    ASSERT_NE(items.action, nullptr);
    EXPECT_EQ(items.action->text, "Terminer");
    ASSERT_NE(items.miseAJour, nullptr);
    EXPECT_FALSE(items.miseAJour->visible);
    ExpectNewRelease(kInstallFolder);
    for (const std::string& name : kDataFiles)
        EXPECT_EQ(scenario.Server().RequestCount("/majv4/" + name), 1) << name;
    EXPECT_EQ(scenario.Server().RequestCount("/version.htm"), 2); // the check and the re-check
    EXPECT_TRUE(updater.Running());                               // the window stays with the result
}

TEST_F(UpdateInstall, InteractiveRunThatLeavesTheOldVersionReportsFailureAndOffersAgain) {
    InstallOldRelease(kInstallFolder);
    PublishNewRelease();
    scenario.Server().Set("/majv4/Velmor.exe", Reply::Status(404));
    scenario.StartInteractive(kInstallFolder);

    const std::optional<WindowReport> result = ClickUpdateAndWaitForResult();
    ASSERT_EQ(MessageOf(result), kUpdateFailed);
    const UpdaterItems items = UpdaterItems::Of(*result);
    ASSERT_NE(items.miseAJour, nullptr);
    EXPECT_TRUE(items.miseAJour->visible); // the re-check still finds the update
    EXPECT_EQ(items.action->text, "Terminer");
    EXPECT_EQ(scenario.ReadFile(Join(kInstallFolder, "Velmor.exe")), Scenario::VelmorBytes("4.2.0.0"));
    ExpectNoTemporaryFile(kInstallFolder);
}

// --- the automatic run ---------------------------------------------------------------------------

TEST_F(UpdateInstall, AutomaticRunClosesTheApplicationReplacesItAndStartsItMinimised) {
    InstallOldRelease(kInstallFolder);
    PublishNewRelease();
    // The running application takes four seconds to close, far longer than the downloads: its
    // executable is still in use when its turn comes, and is replaced once the application has gone.
    scenario.Start(Join(kInstallFolder, "Velmor.exe"), {"--close-delay=4000"}, kInstallFolder);
    ASSERT_TRUE(WaitUntil([&] { return !scenario.VelmorLog(kInstallFolder).empty(); }, 10s));
    ASSERT_TRUE(scenario.WaitForWindow(kApplicationTitle));
    WineProgram& updater = scenario.StartAutomatic(kInstallFolder);

    ASSERT_TRUE(ClickUpdateOnceOffered());
    ASSERT_TRUE(updater.WaitForExit(60s)) << "the updater did not end";
    ExpectNewRelease(kInstallFolder);

    std::vector<Record> log;
    ASSERT_TRUE(WaitUntil(
        [&] {
            log = scenario.VelmorLog(kInstallFolder);
            return RecordsOfKind(log, "start").size() == 2;
        },
        20s));
    const std::vector<Record> starts = RecordsOfKind(log, "start");
    const std::vector<Record> closes = RecordsOfKind(log, "close");
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(closes[0].Get("title"), kApplicationTitle);
    EXPECT_EQ(closes[0].Number("pid"), starts[0].Number("pid"));
    EXPECT_EQ(starts[1].Get("show"), "2"); // minimised with the focus
    EXPECT_EQ(starts[1].Get("startup_show"), "2");
    EXPECT_EQ(starts[1].Get("folder"), kInstallFolder);
    // The application was closed before the new one started.
    const auto at = [&](const Record& wanted) {
        return std::find_if(log.begin(), log.end(),
                            [&](const Record& r) { return r.kind == wanted.kind && r.fields == wanted.fields; }) -
               log.begin();
    };
    EXPECT_LT(at(closes[0]), at(starts[1]));
}

// The application stays open while the release downloads: it is asked to close once every file is
// staged, just before the files are replaced.
TEST_F(UpdateInstall, TheApplicationIsAskedToCloseOnlyOnceEverythingIsDownloaded) {
    InstallOldRelease(kInstallFolder);
    PublishNewRelease();
    scenario.Server().Set("/majv4/Velmor.exe", Reply::Ok(Scenario::VelmorBytes("4.2.0.1")).Delayed(1500ms));
    scenario.Start(Join(kInstallFolder, "Velmor.exe"), {}, kInstallFolder);
    ASSERT_TRUE(scenario.WaitForWindow(kApplicationTitle));
    WineProgram& updater = scenario.StartAutomatic(kInstallFolder);

    ASSERT_TRUE(ClickUpdateOnceOffered());
    ASSERT_TRUE(scenario.Server().WaitForRequests("/majv4/Velmor.exe", 1, 20s));
    EXPECT_TRUE(RecordsOfKind(scenario.VelmorLog(kInstallFolder), "close").empty()); // the last file downloads
    ASSERT_TRUE(updater.WaitForExit(60s)) << "the updater did not end";
    ExpectNewRelease(kInstallFolder);
    EXPECT_FALSE(RecordsOfKind(scenario.VelmorLog(kInstallFolder), "close").empty());
}

// A drive of its own, a tmpfs of the given size mounted for the test (only root may): the disk that
// fills up. Unmounted and unmapped again with the test.
class SmallDrive {
public:
    SmallDrive(const WineSession& session, char letter, std::string_view size)
        : folder_(session.StateFolder() / "small_drive"),
          link_(session.Prefix() / "dosdevices" / (std::string(1, letter) + ":")) {
        std::filesystem::create_directories(folder_);
        mounted_ = RunCommand({"mount", "-t", "tmpfs", "-o", "size=" + std::string(size), "tmpfs", folder_.string()},
                              EnvironmentWith({}))
                       .exitCode == 0;
        if (mounted_)
            std::filesystem::create_directory_symlink(folder_, link_);
    }
    SmallDrive(const SmallDrive&) = delete;
    SmallDrive& operator=(const SmallDrive&) = delete;
    ~SmallDrive() {
        std::error_code ignored;
        std::filesystem::remove(link_, ignored);
        if (mounted_)
            RunCommand({"umount", "-l", folder_.string()}, EnvironmentWith({}));
    }
    bool Mounted() const { return mounted_; }

private:
    std::filesystem::path folder_;
    std::filesystem::path link_;
    bool mounted_ = false;
};

// The staging holds the new release beside the old one: a disk that fills up meanwhile fails the run
// before any installed file is touched, every temporary file goes, and the update is offered again.
TEST_F(UpdateInstall, ADiskThatFillsUpWhileStagingChangesNothing) {
    constexpr std::size_t kDataFileSize = 256 * 1024;
    // The fixture Velmor.exe is larger in one Windows build than in the other: the drive is sized
    // from what it holds, so that three new files fit beside the old release and the fourth does not.
    const std::string oldVelmor = Scenario::VelmorBytes("4.2.0.0");
    constexpr std::size_t kPage = 4096; // what tmpfs counts a file's bytes in
    const auto pages = [](std::size_t bytes) { return (bytes + kPage - 1) / kPage * kPage; };
    const std::size_t driveSize = pages(oldVelmor.size()) + kDataFiles.size() * kDataFileSize +
                                  3 * kDataFileSize + kDataFileSize / 2;
    const SmallDrive drive(scenario.Session(), 'e', std::to_string(driveSize / 1024) + "k");
    if (!drive.Mounted())
        GTEST_SKIP() << "no tmpfs could be mounted for a small drive (root only)";
    constexpr char kSmallDriveFolder[] = "E:\\Lumoradex";
    std::map<std::string, std::string> installed{{"Velmor.exe", oldVelmor}};
    scenario.PlaceVelmor("4.2.0.0", kSmallDriveFolder);
    scenario.Server().SetVersionPage("4.2.1");
    scenario.Server().SetFile("Velmor.exe", Scenario::VelmorBytes("4.2.0.1"));
    for (const std::string& name : kDataFiles) {
        installed[name] = OldBytes(name);
        installed[name].resize(kDataFileSize, 'o');
        scenario.WriteFile(Join(kSmallDriveFolder, name), installed[name]);
        std::string bytes = NewBytes(name);
        bytes.resize(kDataFileSize, 'n');
        scenario.Server().SetFile(name, bytes);
    }
    scenario.StartInteractive(kSmallDriveFolder);

    const std::optional<WindowReport> result = ClickUpdateAndWaitForResult();
    ASSERT_EQ(MessageOf(result), kUpdateFailed);
    EXPECT_TRUE(UpdaterItems::Of(*result).miseAJour->visible);
    // The fourth file no longer fitted: the staging stopped there.
    EXPECT_EQ(scenario.Server().RequestCount("/majv4/MailLink.exe"), 1);
    EXPECT_EQ(scenario.Server().RequestCount("/majv4/XVelmor.mdb"), 0);
    for (const auto& [name, bytes] : installed)
        EXPECT_EQ(scenario.ReadFile(Join(kSmallDriveFolder, name)), bytes) << name;
    ExpectNoTemporaryFile(kSmallDriveFolder);
}

// --- the mirror copy ------------------------------------------------------------------------------

TEST_F(UpdateInstall, WorkingElsewhereOnDriveCAlsoUpdatesTheInstallation) {
    InstallOldRelease(kWorkFolder);
    InstallOldRelease(kInstallFolder);
    scenario.Remove(Join(kInstallFolder, "socle.mdb")); // a file the installation lacks
    PublishNewRelease();
    scenario.Server().Set("/majv4/VelmorE.prm", Reply::Status(404)); // left out by the server
    scenario.StartInteractive(kWorkFolder);

    ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult()), kUpdateOk);
    ExpectNewRelease(kWorkFolder, {"VelmorE.prm"});
    ExpectNewRelease(kInstallFolder, {"VelmorE.prm"});
}

TEST_F(UpdateInstall, WorkingOnAnotherDriveWithoutInstallationUpdatesThatFolderOnly) {
    InstallOldRelease(kOtherDriveFolder);
    PublishNewRelease();
    scenario.StartInteractive(kOtherDriveFolder);

    ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult()), kUpdateOk);
    ExpectNewRelease(kOtherDriveFolder);
    EXPECT_FALSE(scenario.Exists(kInstallFolder));
}

TEST_F(UpdateInstall, WorkingOnAnotherDriveWithAnInstallationUpdatesTheInstallation) {
    InstallOldRelease(kOtherDriveFolder);
    InstallOldRelease(kInstallFolder);
    PublishNewRelease();
    scenario.StartInteractive(kOtherDriveFolder);

    ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult()), kUpdateOk);
    ExpectNewRelease(kInstallFolder); // the standard installation on C: wins
    for (const std::string& name : kDataFiles)
        EXPECT_EQ(scenario.ReadFile(Join(kOtherDriveFolder, name)), OldBytes(name));
}

// The installation folder reached through another spelling is recognised as the folder itself:
// its files are installed once, never deleted for a copy onto themselves.
TEST_F(UpdateInstall, InstallationFolderSpelledOtherwiseIsUpdatedInPlace) {
    for (const bool shortName : {false, true}) {
        SCOPED_TRACE(shortName ? "short name" : "upper case");
        InstallOldRelease(kInstallFolder);
        PublishNewRelease();
        std::vector<std::string> arguments{"C:\\PROGRAM FILES\\LUMORADEXV4", scenario.PlaceUpdater(), "/interactif"};
        if (shortName)
            arguments = {"--short", std::string(kInstallFolder) + "\\", scenario.PlaceUpdater(), "/interactif"};
        WineProgram& launcher =
            scenario.Start(FixturePath("update_install/start_in.exe").string(), arguments, kScratchFolder);

        ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult()), kUpdateOk);
        ExpectNewRelease(kInstallFolder);
        launcher.Kill();
        scenario.Server().ClearRequests();
    }
}

// --- faults of the server and of the files ----------------------------------------------------------

TEST_F(UpdateInstall, FilesTheServerLeavesOutAreKeptAndTheRunSucceeds) {
    InstallOldRelease(kInstallFolder);
    PublishNewRelease();
    scenario.Server().Set("/majv4/Velmor.prm", Reply::Status(404, std::string(1024, 'x'))); // a 1 KB error page
    scenario.Server().Set("/majv4/VelmorA.prm", Reply::Status(500));
    scenario.Server().Set("/majv4/VelmorE.prm", Reply::Ok(""));
    scenario.Server().Set("/majv4/MailLink.exe", Reply::Ok(std::string(200, 'e'))); // error-page size
    scenario.StartInteractive(kInstallFolder);

    ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult()), kUpdateOk);
    ExpectNewRelease(kInstallFolder, {"Velmor.prm", "VelmorA.prm", "VelmorE.prm", "MailLink.exe"});
}

Reply Chunked(Reply reply) {
    reply.chunked = true;
    return reply;
}

// A streamed body states no length, so nothing proves it whole: whether cut before its last chunk
// or not, it ends the same way for the transfer, and is never installed.
TEST_F(UpdateInstall, BrokenTransfersLeaveTheOldFilesWholeAndReportFailure) {
    InstallOldRelease(kInstallFolder);
    PublishNewRelease();
    scenario.Server().Set("/majv4/XVelmor.mdb", Reply::CutShort(NewBytes("XVelmor.mdb"), 600));
    scenario.Server().Set("/majv4/socle.mdb", Reply::ResetMidBody(NewBytes("socle.mdb"), 600));
    scenario.Server().Set("/majv4/MailLink.exe", Chunked(Reply::CutShort(NewBytes("MailLink.exe"), 960)));
    scenario.Server().Set("/majv4/VelmorE.prm", Chunked(Reply::Ok(NewBytes("VelmorE.prm"))));
    scenario.StartInteractive(kInstallFolder);

    // Four files did not arrive whole, or not provably so: nothing of the release is installed.
    ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult()), kUpdateFailed);
    ExpectOldRelease(kInstallFolder);
}

// Bodies that could fill the disk are never read: one without a stated length, one announcing a
// terabyte where no old copy bounds it (more than the disk holds). One announcing a terabyte beside a
// 1000-byte copy is left out by the size tests, unread, as it would be once downloaded.
TEST_F(UpdateInstall, BodiesThatCouldFillTheDiskAreNotRead) {
    InstallOldRelease(kInstallFolder);
    scenario.Remove(Join(kInstallFolder, "socle.mdb"));
    PublishNewRelease();
    scenario.Server().Set("/majv4/XVelmor.mdb", Chunked(Reply::Padded(NewBytes("XVelmor.mdb"), kEndless)));
    scenario.Server().Set("/majv4/socle.mdb", Reply::Padded(NewBytes("socle.mdb"), kTerabyte));
    scenario.Server().Set("/majv4/MailLink.exe", Reply::Padded(NewBytes("MailLink.exe"), kTerabyte));
    scenario.StartInteractive(kInstallFolder);

    ASSERT_TRUE(ClickUpdateOnceOffered());
    ASSERT_EQ(MessageOf(WaitForResult(60s, kInstallFolder)), kUpdateFailed);
    EXPECT_LT(largestTemporary, kFewMebibytes);
    EXPECT_FALSE(scenario.Exists(Join(kInstallFolder, "socle.mdb")));
    scenario.WriteFile(Join(kInstallFolder, "socle.mdb"), OldBytes("socle.mdb")); // as the others: untouched
    ExpectOldRelease(kInstallFolder);
}

// The one slow test: the updater's request time-out is 60 seconds, and a file whose attempts bring no
// byte for 100 seconds fails.
TEST_F(UpdateInstall, StalledServerFailsThatFileAfterTheTimeOutAndTheRunGoesOn) {
    InstallOldRelease(kInstallFolder);
    PublishNewRelease();
    scenario.Server().Set("/majv4/VelmorA.prm", Reply::Stall());
    scenario.StartInteractive(kInstallFolder);

    ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult(150s)), kUpdateFailed);
    ExpectOldRelease(kInstallFolder);
}

// The slow test of the time limits, for an update and a check at once: a server that drips, one
// byte every 20 s, a file of an update run and the version page of a second updater started
// meanwhile. Neither holds its updater much past its limit: the file fails after its two attempts
// of 60 s (each bringing next to nothing counts as two) and the run goes on and reports the failure;
// the check, after 60 s, is impossible.
TEST_F(UpdateInstall, ADrippingServerHoldsNeitherTheRunNorACheckPastTheLimit) {
    constexpr char kCheckFolder[] = "C:\\e2e\\check";
    InstallOldRelease(kInstallFolder);
    PublishNewRelease();
    scenario.Server().Set("/majv4/Velmor.prm", Reply::Ok(NewBytes("Velmor.prm")).Dripped(20s));
    WineProgram& updating = scenario.StartInteractive(kInstallFolder);
    ASSERT_TRUE(ClickUpdateOnceOffered());
    const auto clicked = std::chrono::steady_clock::now();

    // The next request of the page is the second updater's; the run's re-check comes after the drip.
    scenario.Server().SetSequence("/version.htm",
                                  {Reply::Page(VersionPage("4.2.1")).Dripped(20s), Reply::Page(VersionPage("4.2.1"))});
    scenario.PlaceVelmor("4.2.0.0", kCheckFolder);
    scenario.StartInteractive(kCheckFolder);
    ASSERT_TRUE(scenario.Server().WaitForRequests("/version.htm", 2, 20s));
    const auto checkRequested = std::chrono::steady_clock::now();

    // The updating window, top-most since its offer, comes first among the two of the same title.
    const std::optional<WindowReport> result = WaitForResult(TimeUntil(clicked + 150s));
    ASSERT_EQ(MessageOf(result), kUpdateFailed);
    ExpectOldRelease(kInstallFolder);
    EXPECT_EQ(scenario.Server().RequestCount("/majv4/Velmor.prm"), 2);

    updating.Kill();
    std::optional<WindowReport> check;
    EXPECT_TRUE(WaitUntil(
        [&] {
            check = scenario.Inspect();
            return MessageOf(check) == kImpossible;
        },
        TimeUntil(checkRequested + 75s)))
        << MessageOf(check);
}

// --- a dropped connection costs only what it dropped ------------------------------------------------

constexpr std::size_t kLargeFile = 8 << 20;

// The largest file of the release at 8 MiB, beside an old copy of a plausible size.
std::string LargeBytes(char release) {
    std::string bytes(kLargeFile, release);
    for (std::size_t at = 0; at < bytes.size(); at += 4096)
        bytes[at] = static_cast<char>('a' + (at / 4096) % 26);
    return bytes;
}

// The value of a header of the request, empty when it has none.
std::string HeaderOf(const ReceivedRequest& request, std::string_view name) {
    for (const auto& [key, value] : request.headers) {
        if (std::equal(key.begin(), key.end(), name.begin(), name.end(),
                       [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
            return value;
    }
    return {};
}

std::vector<ReceivedRequest> RequestsOf(const UpdateServer& server, std::string_view path) {
    std::vector<ReceivedRequest> found;
    for (const ReceivedRequest& request : server.Requests())
        if (request.path == path)
            found.push_back(request);
    return found;
}

class ResumedDownload : public UpdateInstall {
protected:
    static constexpr char kLargePath[] = "/majv4/XVelmor.mdb";

    void InstallAndPublish() {
        InstallOldRelease(kInstallFolder);
        scenario.WriteFile(Join(kInstallFolder, "XVelmor.mdb"), LargeBytes('o'));
        PublishNewRelease();
        scenario.Server().SetFile("XVelmor.mdb", LargeBytes('n'));
    }
    void ExpectInstalled(const std::string& large) {
        for (const std::string& name : kDataFiles) {
            if (name != "XVelmor.mdb") {
                EXPECT_EQ(scenario.ReadFile(Join(kInstallFolder, name)), NewBytes(name)) << name;
            }
        }
        EXPECT_TRUE(scenario.ReadFile(Join(kInstallFolder, "XVelmor.mdb")) == large);
        EXPECT_EQ(scenario.ReadFile(Join(kInstallFolder, "Velmor.exe")), Scenario::VelmorBytes("4.2.0.1"));
        ExpectNoTemporaryFile(kInstallFolder);
    }
};

// Cut at 40 %, the file is asked again from where it stopped, under the validator of its first answer,
// and one run installs it for about the file's bytes.
TEST_F(ResumedDownload, ACutConnectionCostsOnlyWhatItDropped) {
    InstallAndPublish();
    scenario.Server().CutAt(kLargePath, kLargeFile * 4 / 10);
    scenario.StartInteractive(kInstallFolder);

    ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult()), kUpdateOk);
    ExpectInstalled(LargeBytes('n'));
    const std::vector<ReceivedRequest> requests = RequestsOf(scenario.Server(), kLargePath);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(HeaderOf(requests[0], "Range"), "");
    EXPECT_TRUE(HeaderOf(requests[1], "Range").starts_with("bytes=")) << HeaderOf(requests[1], "Range");
    EXPECT_TRUE(HeaderOf(requests[1], "If-Range").starts_with("\"")) << HeaderOf(requests[1], "If-Range");
    EXPECT_LE(scenario.Server().BodyBytesSent(kLargePath), kLargeFile * 101 / 100);
}

// A server (or a proxy before it) that ends every answer after 4 MiB still delivers an 8 MiB file.
TEST_F(ResumedDownload, AServerThatSendsAtMost4MiBAnAnswerStillDeliversTheFile) {
    InstallAndPublish();
    scenario.Server().LimitAnswerBytes(4 << 20);
    scenario.StartInteractive(kInstallFolder);

    ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult()), kUpdateOk);
    ExpectInstalled(LargeBytes('n'));
    EXPECT_EQ(scenario.Server().RequestCount(kLargePath), 2);
    EXPECT_LE(scenario.Server().BodyBytesSent(kLargePath), kLargeFile * 101 / 100);
}

// The file changed on the server between the cut and the resumption: the new file arrives whole, and
// not a byte of the first answer is joined to it. A server that ignores ranges gives the whole file
// again, which is installed as it is.
TEST_F(ResumedDownload, ANewBodyForTheResumptionIsInstalledWholeNeverJoined) {
    for (const bool ignoresRanges : {false, true}) {
        InstallAndPublish();
        scenario.Server().ClearRequests();
        const std::size_t sentBefore = scenario.Server().BodyBytesSent(kLargePath);
        const std::string changed = LargeBytes('m');
        if (ignoresRanges)
            scenario.Server().IgnoreRanges(true);
        else
            scenario.Server().SetSequence(kLargePath, {Reply::Ok(LargeBytes('n')), Reply::Ok(changed)});
        scenario.Server().CutAt(kLargePath, kLargeFile * 4 / 10);
        WineProgram& updater = scenario.StartInteractive(kInstallFolder);

        ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult()), kUpdateOk) << ignoresRanges;
        ExpectInstalled(ignoresRanges ? LargeBytes('n') : changed);
        EXPECT_EQ(scenario.Server().RequestCount(kLargePath), 2) << ignoresRanges;
        EXPECT_GE(scenario.Server().BodyBytesSent(kLargePath) - sentBefore, kLargeFile * 14 / 10) << ignoresRanges;
        updater.Kill();
        scenario.Server().IgnoreRanges(false);
    }
}

// Working elsewhere, another program (not the application) holds a file of the installation for the
// whole run: the replacement is tried again for 30 seconds, then every file already replaced, in
// both folders, is put back, and the update is offered again. The held file's old content, kept
// aside under a second name that cannot be removed while it is held, goes at the next run, which
// installs everything once the file is free.
TEST_F(UpdateInstall, AFileHeldInTheInstallationLeavesBothFoldersWhollyOld) {
    InstallOldRelease(kWorkFolder);
    InstallOldRelease(kInstallFolder);
    PublishNewRelease();
    const std::string locker = scenario.PlaceVelmor("4.2.0.0", "C:\\e2e\\locker");
    WineProgram& holder = scenario.Start(
        locker, {"--title=Locker", "--lock=" + Join(kInstallFolder, "XVelmor.mdb")}, "C:\\e2e\\locker");
    ASSERT_TRUE(WaitUntil([&] { return !RecordsOfKind(scenario.VelmorLog("C:\\e2e\\locker"), "lock").empty(); }, 10s));
    ASSERT_TRUE(RecordsOfKind(scenario.VelmorLog("C:\\e2e\\locker"), "lock")[0].Flag("ok"));
    WineProgram& first = scenario.StartInteractive(kWorkFolder);

    const std::optional<WindowReport> result = ClickUpdateAndWaitForResult(120s);
    ASSERT_EQ(MessageOf(result), kUpdateFailed);
    EXPECT_TRUE(UpdaterItems::Of(*result).miseAJour->visible);
    first.Kill();
    ExpectOldRelease(kWorkFolder);
    for (const std::string& name : kDataFiles)
        EXPECT_EQ(scenario.ReadFile(Join(kInstallFolder, name)), OldBytes(name)) << name;
    EXPECT_EQ(scenario.ReadFile(Join(kInstallFolder, "Velmor.exe")), Scenario::VelmorBytes("4.2.0.0"));
    for (const std::string& entry : scenario.FolderEntries(kInstallFolder))
        EXPECT_TRUE(!(entry.starts_with("New") || entry.starts_with("Old")) || entry == "OldXVelmor.mdb") << entry;

    holder.Kill();
    scenario.StartInteractive(kWorkFolder);
    ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult()), kUpdateOk);
    ExpectNewRelease(kWorkFolder);
    ExpectNewRelease(kInstallFolder);
}

// A file cut short installs nothing, and the running application is never asked to close; the next
// automatic start offers the update again, and a whole server then installs it all.
TEST_F(UpdateInstall, AFailedUpdateIsOfferedAgainAtTheNextStart) {
    InstallOldRelease(kInstallFolder);
    PublishNewRelease();
    scenario.Server().Set("/majv4/socle.mdb", Reply::CutShort(NewBytes("socle.mdb"), 600));
    scenario.Start(Join(kInstallFolder, "Velmor.exe"), {}, kInstallFolder);
    ASSERT_TRUE(scenario.WaitForWindow(kApplicationTitle));
    WineProgram& first = scenario.StartAutomatic(kInstallFolder);
    ASSERT_TRUE(ClickUpdateOnceOffered());
    ASSERT_TRUE(first.WaitForExit(60s));
    ExpectOldRelease(kInstallFolder);
    EXPECT_TRUE(RecordsOfKind(scenario.VelmorLog(kInstallFolder), "close").empty());

    PublishNewRelease(); // whole again; the application the first run started closes when asked
    WineProgram& second = scenario.StartAutomatic(kInstallFolder);
    ASSERT_TRUE(ClickUpdateOnceOffered());
    ASSERT_TRUE(second.WaitForExit(60s));
    ExpectNewRelease(kInstallFolder);
}

// --- signed releases: the program built with the test release key ------------------------------

constexpr char kReleaseFolder[] = "C:\\e2e\\release";

class SignedUpdateInstall : public UpdateInstall {
protected:
    SignedUpdateInstall() {
        scenario.UseUpdater(SignedUpdaterExecutable());
        for (const std::string& name : kDataFiles)
            release_[name] = NewBytes(name);
        release_["Velmor.exe"] = Scenario::VelmorBytes("4.2.0.1");
    }

    // Signs release_ as the maker does and publishes it with its list and signature, each file
    // streamed or with its length.
    // With earlier releases' folders, their patches are published too.
    void PublishSignedRelease(bool streamed = false, std::string_view version = "4.2.1",
                              const std::filesystem::path& key = TestReleaseKey(),
                              const std::vector<std::string>& earlierReleases = {}) {
        scenario.Server().SetVersionPage("4.2.1");
        for (const auto& [name, bytes] : release_) {
            scenario.WriteFile(Join(kReleaseFolder, name), bytes);
            Reply reply = Reply::Ok(bytes);
            reply.chunked = streamed;
            scenario.Server().Set("/majv4/" + name, reply);
        }
        std::vector<std::filesystem::path> earlier;
        for (const std::string& folder : earlierReleases)
            earlier.push_back(scenario.Linux(folder));
        SignRelease(scenario.Linux(kReleaseFolder), version, key, earlier);
        for (const char* name : {"release.txt", "release.sig"})
            scenario.Server().Set(std::string("/majv4/") + name, Reply::Ok(scenario.ReadFile(Join(kReleaseFolder, name))));
        if (earlier.empty())
            return;
        const std::filesystem::path published = scenario.Linux(kReleaseFolder);
        for (const auto& entry : std::filesystem::recursive_directory_iterator(published)) {
            const std::string relative = std::filesystem::relative(entry.path(), published).generic_string();
            std::ifstream in(entry.path(), std::ios::binary);
            if (entry.is_regular_file() && relative.starts_with("patches"))
                scenario.Server().Set("/majv4/" + relative,
                                      Reply::Ok(std::string(std::istreambuf_iterator<char>(in), {})));
        }
    }
    // The published patch of a file, from the old release's copy.
    std::string PatchOf(const std::string& name) const {
        const std::string list = scenario.ReadFile(Join(kReleaseFolder, "patches.txt"));
        const std::size_t line = list.find(" " + name + "\n");
        return line == std::string::npos
                   ? ""
                   : "/majv4/patches/" + name + "/" + list.substr(list.rfind("patch ", line) + 6, 64) + ".vcdiff";
    }

    void ExpectFiles(const std::map<std::string, std::string>& expected) {
        for (const auto& [name, bytes] : expected)
            EXPECT_EQ(scenario.ReadFile(Join(kInstallFolder, name)), bytes) << name;
        ExpectNoTemporaryFile(kInstallFolder);
    }
    // After a failed run: the files as expected, and nothing of the run but what it received of the
    // release, each in its own temporary file, for the next run to prove.
    void ExpectFilesKeepingWhatArrived(const std::map<std::string, std::string>& expected) {
        for (const auto& [name, bytes] : expected)
            EXPECT_EQ(scenario.ReadFile(Join(kInstallFolder, name)), bytes) << name;
        for (const std::string& entry : scenario.FolderEntries(kInstallFolder)) {
            if (!entry.starts_with("New") && !entry.starts_with("Old"))
                continue;
            const auto listed = release_.find(entry.substr(3));
            EXPECT_TRUE(entry.starts_with("New") && listed != release_.end() &&
                        listed->second.starts_with(scenario.ReadFile(Join(kInstallFolder, entry))))
                << "left in " << kInstallFolder << ": " << entry;
        }
    }
    std::map<std::string, std::string> OldRelease() const {
        std::map<std::string, std::string> old{{"Velmor.exe", Scenario::VelmorBytes("4.2.0.0")}};
        for (const std::string& name : kDataFiles)
            old[name] = OldBytes(name);
        return old;
    }

    std::map<std::string, std::string> release_;
};

// The size tests guard unsigned releases only: a file proven by its signed line installs whatever
// its size (200 bytes, an error page's) or its framing (streamed, no stated length).
TEST_F(SignedUpdateInstall, ProvenReleaseInstallsWhateverTheSizeOrFraming) {
    InstallOldRelease(kInstallFolder);
    release_["Velmor.prm"] = std::string(200, 'p');
    PublishSignedRelease(true);
    scenario.StartInteractive(kInstallFolder);

    ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult()), kUpdateOk);
    ExpectFiles(release_);
}

TEST_F(SignedUpdateInstall, FileChangedAfterSigningInstallsNothing) {
    InstallOldRelease(kInstallFolder);
    PublishSignedRelease();
    std::string changed = release_["socle.mdb"];
    changed[100] ^= 1;
    scenario.Server().Set("/majv4/socle.mdb", Reply::Ok(changed));
    scenario.StartInteractive(kInstallFolder);

    ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult()), kUpdateFailed);
    ExpectFilesKeepingWhatArrived(OldRelease());
    EXPECT_FALSE(scenario.Exists(Join(kInstallFolder, "Newsocle.mdb")));
}

// Announced or not, a body is the listed size or nothing: a terabyte announced fails before any byte,
// an endless stream at its first byte past the list's size.
TEST_F(SignedUpdateInstall, BodiesNotOfTheListedSizeFailWithoutFillingTheDisk) {
    InstallOldRelease(kInstallFolder);
    PublishSignedRelease();
    scenario.Server().Set("/majv4/XVelmor.mdb", Chunked(Reply::Padded(release_["XVelmor.mdb"], kEndless)));
    scenario.Server().Set("/majv4/socle.mdb", Reply::Padded(release_["socle.mdb"], kTerabyte));
    scenario.StartInteractive(kInstallFolder);

    ASSERT_TRUE(ClickUpdateOnceOffered());
    ASSERT_EQ(MessageOf(WaitForResult(60s, kInstallFolder)), kUpdateFailed);
    EXPECT_LT(largestTemporary, kFewMebibytes);
    ExpectFilesKeepingWhatArrived(OldRelease());
}

// The release is judged against the executable it would replace, not against an older copy that the
// version search finds first, beside the updater: a genuinely signed older release is refused.
TEST_F(SignedUpdateInstall, AnOlderReleaseIsRefusedWhateverCopyLiesBesideTheUpdater) {
    InstallOldRelease(kInstallFolder);
    scenario.PlaceVelmor("4.9.0.3", kInstallFolder);
    scenario.PlaceVelmor("4.2.0.0", kUpdaterFolder);
    PublishSignedRelease();
    scenario.StartInteractive(kInstallFolder);

    ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult()), kUpdateFailed); // the window read 4.2.0
    std::map<std::string, std::string> installed = OldRelease();
    installed["Velmor.exe"] = Scenario::VelmorBytes("4.9.0.3");
    ExpectFiles(installed);
    for (const auto& [name, bytes] : release_)
        EXPECT_EQ(scenario.Server().RequestCount("/majv4/" + name), 0) << name;
}

// --- what a signed run received is kept for the next --------------------------------------------

// Killed half-way through its largest file, the run leaves what it received: the next run proves the
// files it had whole, goes on with the large one from its length, and installs the release for
// about half of it.
TEST_F(SignedUpdateInstall, ARunKilledHalfWayIsGoneOnWithByTheNext) {
    constexpr std::size_t kSize = 16 << 20;
    constexpr char kLargePath[] = "/majv4/XVelmor.mdb";
    InstallOldRelease(kInstallFolder);
    release_["XVelmor.mdb"] = LargeBytes('n') + LargeBytes('N');
    PublishSignedRelease();
    scenario.Server().SetBandwidth(4 << 20);
    WineProgram& killed = scenario.StartInteractive(kInstallFolder);
    ASSERT_TRUE(ClickUpdateOnceOffered());
    ASSERT_TRUE(WaitUntil([&] { return scenario.Server().BodyBytesSent(kLargePath) >= kSize / 2; }, 30s));
    killed.Kill();

    scenario.Server().SetBandwidth(0);
    scenario.Server().ClearRequests();
    const std::size_t sentBefore = scenario.Server().BodyBytesSent(kLargePath);
    scenario.StartInteractive(kInstallFolder);
    ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult()), kUpdateOk);
    ExpectFiles(release_);
    for (const char* proven : {"Velmor.prm", "VelmorA.prm", "VelmorE.prm", "MailLink.exe"})
        EXPECT_EQ(scenario.Server().RequestCount(std::string("/majv4/") + proven), 0) << proven;
    EXPECT_LE(scenario.Server().BodyBytesSent(kLargePath) - sentBefore, kSize * 55 / 100);
}

// A run that fails on a late file keeps what it had proven; the next downloads only the rest.
TEST_F(SignedUpdateInstall, ARunThatFailsLateLeavesTheNextOnlyTheRest) {
    InstallOldRelease(kInstallFolder);
    PublishSignedRelease();
    scenario.Server().Set("/majv4/Velmor.exe", Reply::Status(503));
    WineProgram& failed = scenario.StartInteractive(kInstallFolder);
    ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult()), kUpdateFailed);
    failed.Kill();
    for (const std::string& name : kDataFiles)
        EXPECT_EQ(scenario.ReadFile(Join(kInstallFolder, name)), OldBytes(name)) << name;

    PublishSignedRelease();
    scenario.Server().ClearRequests();
    scenario.StartInteractive(kInstallFolder);
    ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult()), kUpdateOk);
    ExpectFiles(release_);
    for (const std::string& name : kDataFiles)
        EXPECT_EQ(scenario.Server().RequestCount("/majv4/" + name), 0) << name;
    EXPECT_EQ(scenario.Server().RequestCount("/majv4/Velmor.exe"), 1);
}

// The same against a web server nobody here wrote, its own validators and ranges: a proxy in front of
// it cuts the largest file, and a signed run killed half-way is gone on with.
TEST_F(SignedUpdateInstall, AgainstARealWebServerCutAndKilledRunsResume) {
    constexpr std::size_t kSize = 16 << 20;
    constexpr char kLargePath[] = "/majv4/XVelmor.mdb";
    TemporaryFolder served("lumoradex-served");
    WebServer nginx(UpdateServerPort() + 1, served.Path());
    InstallOldRelease(kInstallFolder);
    release_["XVelmor.mdb"] = LargeBytes('n') + LargeBytes('N');
    PublishSignedRelease();
    std::filesystem::create_directories(served.Path() / "majv4");
    for (const char* name : {"release.txt", "release.sig"})
        release_[name] = scenario.ReadFile(Join(kReleaseFolder, name));
    for (const auto& [name, bytes] : release_) {
        std::ofstream(served.Path() / "majv4" / name, std::ios::binary) << bytes;
        scenario.Server().Remove("/majv4/" + name);
    }
    release_.erase("release.txt");
    release_.erase("release.sig");
    scenario.Server().ProxyTo(nginx.BaseUrl());

    scenario.Server().CutAt(kLargePath, kSize * 4 / 10);
    scenario.Server().SetBandwidth(4 << 20);
    WineProgram& killed = scenario.StartInteractive(kInstallFolder);
    ASSERT_TRUE(ClickUpdateOnceOffered());
    ASSERT_TRUE(WaitUntil([&] { return scenario.Server().BodyBytesSent(kLargePath) >= kSize * 3 / 4; }, 30s));
    killed.Kill();
    const std::vector<ReceivedRequest> cut = RequestsOf(scenario.Server(), kLargePath);
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_TRUE(HeaderOf(cut[1], "If-Range").starts_with("\"")) << "nginx's own strong tag";

    scenario.Server().SetBandwidth(0);
    const std::size_t sentBefore = scenario.Server().BodyBytesSent(kLargePath);
    scenario.StartInteractive(kInstallFolder);
    ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult()), kUpdateOk);
    ExpectFiles(release_);
    EXPECT_LE(scenario.Server().BodyBytesSent(kLargePath) - sentBefore, kSize * 30 / 100);
}

// --- only what changed: current files skipped, patches from the installed release --------------

constexpr char kEarlierRelease[] = "C:\\e2e\\earlier";

// Files unchanged since the installed release are not downloaded at all; the others come as patches
// made by the maker's script from that release.
TEST_F(SignedUpdateInstall, OnlyWhatChangedIsDownloaded) {
    InstallOldRelease(kInstallFolder);
    InstallOldRelease(kEarlierRelease);
    for (const char* unchanged : {"Velmor.prm", "VelmorA.prm", "MailLink.exe"})
        release_[unchanged] = OldBytes(unchanged);
    PublishSignedRelease(false, "4.2.1", TestReleaseKey(), {kEarlierRelease});
    scenario.StartInteractive(kInstallFolder);

    ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult()), kUpdateOk);
    ExpectFiles(release_);
    for (const auto& [name, bytes] : release_) {
        EXPECT_EQ(scenario.Server().RequestCount("/majv4/" + name), 0) << name;
        const bool changed = bytes != OldRelease().at(name);
        ASSERT_EQ(PatchOf(name).empty(), !changed) << name;
        if (changed) {
            EXPECT_EQ(scenario.Server().RequestCount(PatchOf(name)), 1) << name;
        }
    }
}

// A patch that is missing, changed on the server, or proven but made for another build of the same
// version (its result is not the listed file) gives way to the whole file, and the update succeeds.
TEST_F(SignedUpdateInstall, APatchThatFailsGivesWayToTheWholeFile) {
    InstallOldRelease(kInstallFolder);
    InstallOldRelease(kEarlierRelease);
    PublishSignedRelease(false, "4.2.1", TestReleaseKey(), {kEarlierRelease});
    scenario.Server().Set(PatchOf("VelmorE.prm"), Reply::Status(404));
    std::string changed = scenario.ReadFile(Join(kReleaseFolder, PatchOf("XVelmor.mdb").substr(7)));
    changed.back() ^= 1;
    scenario.Server().Set(PatchOf("XVelmor.mdb"), Reply::Ok(changed));
    const std::string otherBuildPatch = PatchOf("socle.mdb");
    release_["socle.mdb"][20] ^= 1;
    PublishSignedRelease(); // the same version rebuilt: its list, the earlier build's patches
    scenario.StartInteractive(kInstallFolder);

    ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult()), kUpdateOk);
    ExpectFiles(release_);
    EXPECT_EQ(scenario.Server().RequestCount(otherBuildPatch), 1);
    for (const char* whole : {"VelmorE.prm", "XVelmor.mdb", "socle.mdb"})
        EXPECT_EQ(scenario.Server().RequestCount(std::string("/majv4/") + whole), 1) << whole;
    EXPECT_EQ(scenario.Server().RequestCount("/majv4/Velmor.prm"), 0);
}

enum class Spoilt { NoSignature, OtherKey, ListChanged, OlderVersion };

class UnprovenSignedRelease : public SignedUpdateInstall, public ::testing::WithParamInterface<Spoilt> {};

TEST_P(UnprovenSignedRelease, InstallsNothingAndReportsFailure) {
    InstallOldRelease(kInstallFolder);
    const Spoilt spoilt = GetParam();
    PublishSignedRelease(false, spoilt == Spoilt::OlderVersion ? "4.1.9" : "4.2.1",
                         spoilt == Spoilt::OtherKey ? OtherTestKey() : TestReleaseKey());
    if (spoilt == Spoilt::NoSignature)
        scenario.Server().Set("/majv4/release.sig", Reply::Status(404));
    if (spoilt == Spoilt::ListChanged) {
        std::string list = scenario.ReadFile(Join(kReleaseFolder, "release.txt"));
        list[list.find(' ') + 1] ^= 1; // the first digit of the version
        scenario.Server().Set("/majv4/release.txt", Reply::Ok(list));
    }
    scenario.StartInteractive(kInstallFolder);

    ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult()), kUpdateFailed);
    ExpectFiles(OldRelease());
    for (const auto& [name, bytes] : release_)
        EXPECT_EQ(scenario.Server().RequestCount("/majv4/" + name), 0) << name;
}

std::string SpoiltName(const ::testing::TestParamInfo<Spoilt>& info) {
    switch (info.param) {
    case Spoilt::NoSignature:
        return "NoSignature";
    case Spoilt::OtherKey:
        return "OtherKey";
    case Spoilt::ListChanged:
        return "ListChanged";
    case Spoilt::OlderVersion:
        return "OlderVersion";
    }
    return "?";
}

INSTANTIATE_TEST_SUITE_P(Release, UnprovenSignedRelease,
                         ::testing::Values(Spoilt::NoSignature, Spoilt::OtherKey, Spoilt::ListChanged,
                                           Spoilt::OlderVersion),
                         SpoiltName);

// --- an installation the updater may not write: one elevated instance installs -------------------

// The program with the elevation test seam and the test release key: every folder reads as not
// writable to the instance the user clicked, which then hands the installation folder to a second
// instance ("runas" starts it as it is under Wine).
class ElevatedUpdateInstall : public SignedUpdateInstall {
protected:
    ElevatedUpdateInstall() {
        scenario.UseUpdater(SeamUpdaterExecutable());
        scenario.SetProgramVariable("LUMORADEX_TEST_READ_ONLY=1");
        scenario.PlaceUpdater(kInstallFolder); // the installation's own updater: the one elevation starts
    }
    // Wine gives a Windows process the Windows command line as its own.
    bool HandOffInstanceRunning() const {
        for (pid_t pid : scenario.Session().ProgramProcesses()) {
            std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
            const std::string commandLine((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (commandLine.find("/installation-elevee") != std::string::npos)
                return true;
        }
        return false;
    }
};

TEST_F(ElevatedUpdateInstall, TheSecondInstanceInstallsWhileTheWindowShowsItsProgress) {
    InstallOldRelease(kInstallFolder);
    PublishSignedRelease();
    scenario.Server().Set("/majv4/socle.mdb", Reply::Ok(release_["socle.mdb"]).Delayed(1500ms));
    scenario.StartInteractive(kInstallFolder);

    ASSERT_TRUE(ClickUpdateOnceOffered());
    EXPECT_TRUE(WaitUntil([&] { return MessageOf(scenario.Inspect()) == std::string(kDownloadingPrefix) + "socle.mdb)"; }, 20s))
        << MessageOf(scenario.Inspect());
    EXPECT_TRUE(HandOffInstanceRunning()); // the download it shows is the second instance's
    EXPECT_TRUE(WaitUntil([&] { return MessageOf(scenario.Inspect()) == kUpdateOk; }, 30s));
    ExpectFiles(release_);
}

// Working elsewhere, the clicked instance installs its own folder itself; the elevated one downloads
// the release again into the installation folder, copying nothing from the working folder.
TEST_F(ElevatedUpdateInstall, AnAutomaticRunFromElsewhereStartsTheApplicationOnceBothFoldersAreInstalled) {
    InstallOldRelease(kWorkFolder);
    InstallOldRelease(kInstallFolder);
    PublishSignedRelease();
    WineProgram& updater = scenario.StartAutomatic(kWorkFolder);

    ASSERT_TRUE(ClickUpdateOnceOffered());
    ASSERT_TRUE(updater.WaitForExit(60s)) << "the updater did not end";
    ExpectFiles(release_);
    ExpectNewRelease(kWorkFolder);
    for (const auto& [name, bytes] : release_)
        EXPECT_EQ(scenario.Server().RequestCount("/majv4/" + name), 2) << name;
    ASSERT_TRUE(WaitUntil([&] { return RecordsOfKind(scenario.VelmorLog(kWorkFolder), "start").size() == 1; }, 20s));
}

TEST_F(ElevatedUpdateInstall, ADeclinedElevationChangesNothingAndTheWindowStaysUsable) {
    scenario.SetProgramVariable("LUMORADEX_TEST_DECLINE_ELEVATION=1");
    InstallOldRelease(kInstallFolder);
    PublishSignedRelease();
    WineProgram& updater = scenario.StartInteractive(kInstallFolder);

    const std::optional<WindowReport> result = ClickUpdateAndWaitForResult();
    ASSERT_EQ(MessageOf(result), kUpdateFailed);
    const UpdaterItems items = UpdaterItems::Of(*result);
    EXPECT_TRUE(items.miseAJour->visible); // the re-check still finds the update
    EXPECT_EQ(items.action->text, "Terminer");
    for (const std::string& name : kDataFiles)
        EXPECT_EQ(scenario.Server().RequestCount("/majv4/" + name), 0) << name;
    ExpectFiles(OldRelease());
    EXPECT_TRUE(updater.Running());
}

// Started by hand with a hand-off, the program shows nothing: a malformed one (a folder of the
// user's choice) touches nothing; a well-formed one installs in the installation folder only, and
// only what the signed list proves (no tampered file, no older release), wherever it is started.
TEST_F(ElevatedUpdateInstall, AForgedHandOffChoosesNothing) {
    InstallOldRelease(kInstallFolder);
    InstallOldRelease(kWorkFolder);
    PublishSignedRelease();
    WineProgram& folderNamed =
        scenario.Start(scenario.PlaceUpdater(), {"/installation-elevee", "1", "C:\\e2e\\work"}, kWorkFolder);
    EXPECT_EQ(folderNamed.WaitForExit(20s), 2);
    EXPECT_EQ(scenario.Server().Requests().size(), 0u);

    std::string tampered = release_["Velmor.prm"];
    tampered[0] ^= 1;
    scenario.Server().Set("/majv4/Velmor.prm", Reply::Ok(tampered));
    WineProgram& windowOnly = scenario.Start(scenario.PlaceUpdater(), {"/installation-elevee", "1"}, kWorkFolder);
    EXPECT_EQ(windowOnly.WaitForExit(30s), 1); // one file failed: nothing is installed
    EXPECT_FALSE(scenario.Inspect());
    ExpectFilesKeepingWhatArrived(OldRelease());

    // An older release, genuinely signed, changes nothing either.
    const std::map<std::string, std::string> installed = OldRelease();
    PublishSignedRelease(false, "4.1.9");
    WineProgram& older = scenario.Start(scenario.PlaceUpdater(), {"/installation-elevee", "1"}, kWorkFolder);
    EXPECT_EQ(older.WaitForExit(30s), 1);
    ExpectFilesKeepingWhatArrived(installed);

    for (const std::string& name : kDataFiles) // untouched
        EXPECT_EQ(scenario.ReadFile(Join(kWorkFolder, name)), OldBytes(name)) << name;
    EXPECT_EQ(scenario.ReadFile(Join(kWorkFolder, "Velmor.exe")), Scenario::VelmorBytes("4.2.0.0"));
    ExpectNoTemporaryFile(kWorkFolder);
}

// --- HTTPS: the program built for https://localhost, against the TLS loopback server -------------

constexpr char kImpossibleMessage[] = "Impossible de contr\xC3\xB4ler les versions";
constexpr int kOtherTlsPort = 18444;

// The session's prefix trusts the test authority; nothing else is relaxed.
class HttpsUpdateInstall : public UpdateInstall {
protected:
    HttpsUpdateInstall() {
        TrustTestAuthority(scenario.Session());
        scenario.UseUpdater(HttpsUpdaterExecutable());
    }
    const TestCertificates& Certificates() const { return TestTls(scenario.Session()); }
    std::string CheckMessage() {
        std::string message;
        WaitUntil(
            [&] {
                message = MessageOf(scenario.Inspect());
                return message == kImpossibleMessage || message == kOfferMessage;
            },
            30s);
        return message;
    }
};

// Checked and installed over TLS in automatic mode, the application started as usual.
TEST_F(HttpsUpdateInstall, AnAutomaticRunChecksAndInstallsOverTls) {
    UpdateServer server(HttpsUpdateServerPort(), Certificates().localhost);
    InstallOldRelease(kInstallFolder);
    PublishNewRelease(server);
    WineProgram& updater = scenario.StartAutomatic(kInstallFolder);

    ASSERT_TRUE(ClickUpdateOnceOffered());
    ASSERT_TRUE(updater.WaitForExit(60s)) << "the updater did not end";
    ExpectNewRelease(kInstallFolder);
    EXPECT_EQ(server.RequestCount("/version.htm"), 2);
}

struct CertificateProblem {
    const char* name;
    TlsIdentity TestCertificates::*identity;
};

class CertificateProblems : public HttpsUpdateInstall, public ::testing::WithParamInterface<CertificateProblem> {};

// A certificate for another name, expired, or from an authority nobody trusts: from the update
// server itself the check is impossible; from the host a file is redirected to, that file fails and
// nothing of it is installed.
TEST_P(CertificateProblems, MakeTheCheckImpossible) {
    UpdateServer server(HttpsUpdateServerPort(), Certificates().*(GetParam().identity));
    PublishNewRelease(server);
    InstallOldRelease(kInstallFolder);
    scenario.StartInteractive(kInstallFolder);
    EXPECT_EQ(CheckMessage(), kImpossibleMessage);
}

TEST_P(CertificateProblems, FailAFileRedirectedThere) {
    UpdateServer server(HttpsUpdateServerPort(), Certificates().localhost);
    UpdateServer elsewhere(kOtherTlsPort, Certificates().*(GetParam().identity));
    PublishNewRelease(server);
    PublishNewRelease(elsewhere);
    server.Set("/majv4/socle.mdb", Reply::Redirect(elsewhere.BaseUrl() + "/majv4/socle.mdb"));
    InstallOldRelease(kInstallFolder);
    scenario.StartInteractive(kInstallFolder);
    ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult()), kUpdateFailed);
    ExpectOldRelease(kInstallFolder);
}

std::string ProblemName(const ::testing::TestParamInfo<CertificateProblem>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Https, CertificateProblems,
                         ::testing::Values(CertificateProblem{"OtherName", &TestCertificates::otherName},
                                           CertificateProblem{"Expired", &TestCertificates::expired},
                                           CertificateProblem{"UntrustedAuthority", &TestCertificates::untrusted}),
                         ProblemName);

// A server that moved to TLS keeps working for a program built with its plain address.
TEST_F(HttpsUpdateInstall, APlainServerMovedToTlsIsFollowed) {
    scenario.UseUpdater(UpdaterExecutable());
    UpdateServer server(HttpsUpdateServerPort(), Certificates().localhost);
    PublishNewRelease(server);
    scenario.Server().Set("/version.htm", Reply::Redirect(server.BaseUrl() + "/version.htm", 301));
    InstallOldRelease(kInstallFolder);
    scenario.StartInteractive(kInstallFolder);
    EXPECT_EQ(CheckMessage(), kOfferMessage);
    EXPECT_EQ(server.RequestCount("/version.htm"), 1);
}

// Never back to clear text once TLS is used.
TEST_F(HttpsUpdateInstall, ATlsServerRedirectingToPlainHttpIsRefused) {
    UpdateServer server(HttpsUpdateServerPort(), Certificates().localhost);
    PublishNewRelease(server);
    PublishNewRelease();
    server.Set("/version.htm", Reply::Redirect(scenario.Server().BaseUrl() + "/version.htm", 301));
    InstallOldRelease(kInstallFolder);
    scenario.StartInteractive(kInstallFolder);
    EXPECT_EQ(CheckMessage(), kImpossibleMessage);
    EXPECT_EQ(scenario.Server().RequestCount("/version.htm"), 0);
}

} // namespace
} // namespace lumoradex::e2e
