// The update run end to end: the real updater under Wine clicks through an update against the
// loopback server, with the fixture application installed, running, or holding its files.

#include <gtest/gtest.h>

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
    void PublishNewRelease() {
        scenario.Server().SetVersionPage("4.2.1");
        for (const std::string& name : kDataFiles)
            scenario.Server().SetFile(name, NewBytes(name));
        scenario.Server().SetFile("Velmor.exe", Scenario::VelmorBytes("4.2.0.1"));
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

    // The window once it shows the run's result message, or as it was after the time-out.
    std::optional<WindowReport> WaitForResult(std::chrono::milliseconds timeout) {
        std::optional<WindowReport> result;
        WaitUntil(
            [&] {
                result = scenario.Inspect();
                const UpdaterItems now = result ? UpdaterItems::Of(*result) : UpdaterItems{};
                return now.message != nullptr && now.message->text.starts_with("T\xC3\xA9l\xC3\xA9"
                                                                               "chargements");
            },
            timeout);
        return result;
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
    void ExpectNoTemporaryFile(std::string_view folder) {
        for (const std::string& entry : scenario.FolderEntries(folder))
            EXPECT_FALSE(entry.starts_with("New")) << "left in " << folder << ": " << entry;
    }

    Scenario scenario;
};

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

TEST_F(UpdateInstall, BrokenTransfersLeaveTheOldFilesWholeAndReportFailure) {
    InstallOldRelease(kInstallFolder);
    PublishNewRelease();
    scenario.Server().Set("/majv4/XVelmor.mdb", Reply::CutShort(NewBytes("XVelmor.mdb"), 600));
    scenario.Server().Set("/majv4/socle.mdb", Reply::ResetMidBody(NewBytes("socle.mdb"), 600));
    scenario.StartInteractive(kInstallFolder);

    // The versions agree afterwards, yet two files did not arrive.
    ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult()), kUpdateFailed);
    ExpectNewRelease(kInstallFolder, {"XVelmor.mdb", "socle.mdb"});
}

// The one slow test: the updater's request time-out is 60 seconds.
TEST_F(UpdateInstall, StalledServerFailsThatFileAfterTheTimeOutAndTheRunGoesOn) {
    InstallOldRelease(kInstallFolder);
    PublishNewRelease();
    scenario.Server().Set("/majv4/VelmorA.prm", Reply::Stall());
    scenario.StartInteractive(kInstallFolder);

    ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult(150s)), kUpdateFailed);
    ExpectNewRelease(kInstallFolder, {"VelmorA.prm"});
}

// The slow test of the time limits, for an update and a check at once: a server that drips, one
// byte every 20 s, a file of an update run and the version page of a second updater started
// meanwhile. Neither holds its updater much past the limit of 60 s: the file fails and the run goes
// on and reports the failure; the check is impossible.
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
    const std::optional<WindowReport> result = WaitForResult(TimeUntil(clicked + 90s));
    ASSERT_EQ(MessageOf(result), kUpdateFailed);
    ExpectNewRelease(kInstallFolder, {"Velmor.prm"});
    EXPECT_EQ(scenario.Server().RequestCount("/majv4/Velmor.prm"), 1);

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

TEST_F(UpdateInstall, FileLockedByAnotherProgramIsLeftWholeWithItsDownloadKept) {
    InstallOldRelease(kInstallFolder);
    PublishNewRelease();
    // Another program, not the application, holds a data file for the whole run.
    const std::string locker = scenario.PlaceVelmor("4.2.0.0", "C:\\e2e\\locker");
    scenario.Start(locker, {"--title=Locker", "--lock=" + Join(kInstallFolder, "XVelmor.mdb")}, "C:\\e2e\\locker");
    ASSERT_TRUE(WaitUntil([&] { return !RecordsOfKind(scenario.VelmorLog("C:\\e2e\\locker"), "lock").empty(); }, 10s));
    ASSERT_TRUE(RecordsOfKind(scenario.VelmorLog("C:\\e2e\\locker"), "lock")[0].Flag("ok"));
    scenario.StartInteractive(kInstallFolder);

    // The replacement is tried again for 30 seconds before the file counts as failed.
    ASSERT_EQ(MessageOf(ClickUpdateAndWaitForResult(120s)), kUpdateFailed);
    for (const std::string& name : kDataFiles) {
        EXPECT_EQ(scenario.ReadFile(Join(kInstallFolder, name)),
                  name == "XVelmor.mdb" ? OldBytes(name) : NewBytes(name))
            << name;
    }
    EXPECT_EQ(scenario.ReadFile(Join(kInstallFolder, "NewXVelmor.mdb")), NewBytes("XVelmor.mdb")); // for the next run
    EXPECT_EQ(scenario.ReadFile(Join(kInstallFolder, "Velmor.exe")), Scenario::VelmorBytes("4.2.0.1"));
}

} // namespace
} // namespace lumoradex::e2e
