#include "updater/install/update_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <pthread.h>

#include <algorithm>
#include <thread>

#include "tests/unit/fakes/disk.h"
#include "tests/unit/fakes/elevation.h"
#include "tests/unit/fakes/process.h"
#include "tests/unit/fakes/release_verifier.h"
#include "tests/unit/fakes/server.h"
#include "tests/unit/fakes/signal.h"
#include "tests/unit/fakes/update_run_view.h"
#include "updater/install/installation_handoff.h"
#include "updater/install/release_installation.h"
#include "updater/release/installation_folder.h"
#include "updater/release/server_addresses.h"
#include "updater/release/update_file_list.h"

namespace lumoradex {
namespace {

using fakes::Der;
using fakes::FakeAnswer;
using fakes::FakeDigest;
using fakes::FakeDisk;
using fakes::FakeElevation;
using fakes::FakeProcess;
using fakes::FakeServer;
using fakes::FakeSignature;
using fakes::FakeUpdateRunView;
using fakes::FakeVerifier;
using fakes::Hex;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

const std::string kOk = "Téléchargements terminés, mise à jour OK";
const std::string kFailed = "Téléchargements terminés, Echec de MAJ";

std::string Progress(const std::string& name) {
    return "Veuillez patienter, téléchargement en cours (" + name + ")";
}
std::string Installed(const std::string& name) {
    return std::string(kInstallationFolder) + "\\" + name;
}

// A body of the given size that tells which file and which release it is.
std::string Body(const std::string& name, std::size_t size, char release = 'n') {
    std::string body = release + name;
    body.resize(size, release);
    return body;
}

class UpdateRunTest : public ::testing::Test {
protected:
    UpdateRunTest() {
        // Started by hand, in a working folder that is not the installation's.
        disk.commandLine = "interactive";
        disk.currentFolder = "D:\\Lumoradex";
        for (std::string_view name : kUpdateFileList) {
            Publish(std::string(name), Body(std::string(name), 1000));
            disk.files[std::string(name)] = Body(std::string(name), 900, 'o');
        }
    }

    void Publish(const std::string& name, std::string body, DownloadResult result = DownloadResult::Complete) {
        server.answers[DownloadUrl(name)] = FakeAnswer{result, std::move(body)};
    }
    void Unpublish(const std::string& name) { server.answers.erase(DownloadUrl(name)); }
    void InstallElsewhere() {
        disk.currentFolder = "D:\\Lumoradex";
        disk.files[std::string(kInstalledExecutable)] = Body("Velmor.exe", 900, 'o');
        disk.versions[std::string(kInstalledExecutable)] = "4.2.0";
    }
    void RunUpdate() {
        before = disk.files;
        UpdateRun run{{disk, server, disk, process, verifier, &window}, window, nullptr, [this] {
                          events.push_back("recheck");
                          recheck();
                      }};
        run.Run();
    }

    bool IsNew(const std::string& path) const {
        return disk.files.contains(path) && disk.files.at(path)[0] == 'n' && disk.files.at(path).size() == 1000;
    }
    bool IsOld(const std::string& path) const { return disk.files.contains(path) && disk.files.at(path)[0] == 'o'; }
    // The new files waiting for the commit, and the old ones kept aside during it.
    static bool IsTemporary(const std::string& path) {
        const std::string name = path.substr(path.find_last_of('\\') + 1);
        return name.starts_with("New") || name.starts_with("Old");
    }
    std::vector<std::string> Temporaries() const {
        std::vector<std::string> found;
        for (const auto& [path, content] : disk.files) {
            if (IsTemporary(path))
                found.push_back(path);
        }
        return found;
    }
    std::vector<std::string> Downloads() const {
        std::vector<std::string> found;
        for (const std::string& event : events)
            if (event.starts_with("download "))
                found.push_back(event.substr(9));
        return found;
    }
    std::vector<std::string> Since(const std::string& event) const {
        auto at = std::find(events.begin(), events.end(), event);
        return at == events.end() ? std::vector<std::string>{} : std::vector<std::string>(at, events.end());
    }

    std::vector<std::string> events;
    FakeUpdateRunView window{events};
    FakeDisk disk;
    FakeServer server{events};
    FakeProcess process{events};
    // By default the re-check finds the versions equal, as after a good update.
    std::function<void()> recheck = [this] { window.vLocale = window.vSite; };
    ReleaseVerifier* verifier = nullptr; // unsigned releases
    std::map<std::string, std::string> before; // the folders as the last run found them
};

// --- a successful run -------------------------------------------------------------------------

TEST_F(UpdateRunTest, InstallsTheSevenFilesInOrderAndReportsSuccess) {
    RunUpdate();
    std::vector<std::string> expected;
    for (std::string_view name : kUpdateFileList)
        expected.push_back(DownloadUrl(name));
    EXPECT_EQ(Downloads(), expected);
    for (std::string_view name : kUpdateFileList)
        EXPECT_TRUE(IsNew(std::string(name))) << name;
    EXPECT_THAT(Temporaries(), ::testing::IsEmpty());
    EXPECT_EQ(window.message, kOk);
    EXPECT_EQ(window.actionCaption, "Terminer");
    EXPECT_FALSE(window.miseAJourVisible);
    EXPECT_THAT(events, Not(Contains("Beep")));
}

// The application stays usable for the whole download: it is asked to close once every file is
// staged, just before the commit, and not at all by a run that fails before.
TEST_F(UpdateRunTest, HidesTheButtonAndAsksTheApplicationToCloseOnlyForTheCommit) {
    bool closeRequestedBeforeTheLastDownload = true;
    server.onDownload[DownloadUrl("Velmor.exe")] = [&] {
        closeRequestedBeforeTheLastDownload = std::ranges::count(events, "FermerFenetres Lumoradex") > 0;
    };
    RunUpdate();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0], "hide MiseAJour");
    EXPECT_EQ(events[1], "message " + Progress("Velmor.prm"));
    EXPECT_FALSE(closeRequestedBeforeTheLastDownload);
    EXPECT_THAT(Since("FermerFenetres Lumoradex"), ElementsAre("FermerFenetres Lumoradex", "recheck", "message " + kOk,
                                                              "caption Terminer"));
    EXPECT_TRUE(IsNew("Velmor.exe"));

    events.clear();
    Unpublish("socle.mdb");
    RunUpdate();
    EXPECT_THAT(events, Not(Contains("FermerFenetres Lumoradex")));
}

TEST_F(UpdateRunTest, ShowsProgressAndFlushesOnceBeforeEachDownload) {
    RunUpdate();
    for (std::string_view name : kUpdateFileList) {
        const std::vector<std::string> from = Since("message " + Progress(std::string(name)));
        ASSERT_GE(from.size(), 3u) << name;
        EXPECT_EQ(from[1], "flush");
        EXPECT_EQ(from[2], "download " + DownloadUrl(name));
    }
    EXPECT_EQ(std::count(events.begin(), events.end(), "flush"), 7);
}

TEST_F(UpdateRunTest, ReplacesEachFileByRenamingItsCompleteTemporaryFile) {
    RunUpdate();
    EXPECT_THAT(disk.replacements, Contains("Velmor.exe <- NewVelmor.exe"));
    EXPECT_EQ(disk.replacements.size(), 7u);
}

TEST_F(UpdateRunTest, StaleTemporaryFileIsRemovedBeforeTheDownload) {
    disk.files["NewVelmor.exe"] = "stale half download";
    RunUpdate();
    EXPECT_TRUE(IsNew("Velmor.exe"));
    EXPECT_FALSE(disk.files.contains("NewVelmor.exe"));
    EXPECT_EQ(window.message, kOk);
}

TEST_F(UpdateRunTest, FileWithoutOldCopyIsInstalled) {
    disk.files.erase("socle.mdb");
    RunUpdate();
    EXPECT_TRUE(IsNew("socle.mdb"));
}

TEST_F(UpdateRunTest, EmptyOldCopyIsReplacedWithoutTheRatioTest) {
    disk.files["socle.mdb"] = "";
    Publish("socle.mdb", Body("socle.mdb", 50000));
    RunUpdate();
    EXPECT_EQ(disk.files["socle.mdb"].size(), 50000u);
}

TEST_F(UpdateRunTest, RepaintsBetweenChunksAndWhileTheTransferIsBusy) {
    server.busyPolls = 3;
    RunUpdate();
    // 1000 bytes in chunks of 64: 16 chunks per file, then three polls per file.
    EXPECT_GE(window.repaints.load(), 7 * (16 + 3));
    EXPECT_EQ(process.sleptMilliseconds.load(), 7 * 3 * 100);
}

// A busy flag that never falls is waited for no longer than the request time-out, 60 s a file.
TEST_F(UpdateRunTest, ABusyFlagThatNeverFallsHoldsEachFileSixtySeconds) {
    server.busyPolls = 100000;
    RunUpdate();
    EXPECT_EQ(process.sleptMilliseconds.load(), 7 * 60000);
    EXPECT_EQ(window.message, kOk);
}

// Without a thread for the disk's work, each file's flush and replacement are done here, in order.
TEST_F(UpdateRunTest, WithoutADiskThreadTheFilesAreSettledInTurn) {
    pthread_attr_t noThread;
    pthread_attr_init(&noThread);
    pthread_attr_setstacksize(&noThread, std::size_t{1} << 46); // no thread gets such a stack
    pthread_attr_t saved;
    pthread_getattr_default_np(&saved);
    pthread_setattr_default_np(&noThread);
    std::thread::id settledOn;
    disk.beforeCommit["NewVelmor.exe"] = [&] { settledOn = std::this_thread::get_id(); };
    RunUpdate();
    pthread_setattr_default_np(&saved);
    pthread_attr_destroy(&noThread);
    pthread_attr_destroy(&saved);
    for (std::string_view name : kUpdateFileList)
        EXPECT_TRUE(IsNew(std::string(name))) << name;
    EXPECT_EQ(settledOn, std::this_thread::get_id());
    EXPECT_THAT(disk.renamedBeforeFlush, ::testing::IsEmpty());
    EXPECT_EQ(window.message, kOk);
}

TEST_F(UpdateRunTest, IdleTransferCostsNoWait) {
    RunUpdate();
    EXPECT_EQ(process.sleptMilliseconds.load(), 0);
}

// --- a file's disk work beside the next file's transfer ------------------------------------------

// The flush, replacement and mirror copy of a file go on while the next one downloads; still no file
// is renamed before its temporary file is flushed, and the files are replaced in the list's order.
TEST_F(UpdateRunTest, FileIsFlushedWhileTheNextDownloadsAndRenamedOnlyOnceFlushed) {
    InstallElsewhere();
    fakes::Signal nextDownloadStarted;
    server.onDownload[DownloadUrl("socle.mdb")] = [&] { nextDownloadStarted.Raise(); };
    bool flushedDuringTheNextDownload = false;
    disk.beforeCommit["NewXVelmor.mdb"] = [&] { flushedDuringTheNextDownload = nextDownloadStarted.WaitRaised(); };
    RunUpdate();
    EXPECT_TRUE(flushedDuringTheNextDownload);
    EXPECT_THAT(disk.renamedBeforeFlush, ::testing::IsEmpty());
    std::vector<std::string> inOrder;
    for (std::string_view listed : kUpdateFileList) {
        const std::string name(listed);
        inOrder.push_back(Installed(name) + " <- " + Installed("New" + name));
        inOrder.push_back(name + " <- New" + name);
        EXPECT_TRUE(IsNew(name)) << name;
        EXPECT_TRUE(IsNew(Installed(name))) << name;
    }
    EXPECT_EQ(disk.replacements, inOrder);
    EXPECT_EQ(window.message, kOk);
}

// The last file's disk work may take 30 s when the file is in use: the window paints meanwhile.
TEST_F(UpdateRunTest, WindowKeepsPaintingWhileTheDiskFinishes) {
    bool painted = false;
    disk.beforeCommit["NewVelmor.exe"] = [&] {
        window.repainted.Reset();
        painted = window.repainted.WaitRaised();
    };
    RunUpdate();
    EXPECT_TRUE(painted);
    EXPECT_TRUE(IsNew("Velmor.exe"));
}

// --- rejections: the server leaves a file out; no failure ------------------------------------

TEST_F(UpdateRunTest, RejectedDownloadsLeaveTheOldFilesAndReportSuccess) {
    Publish("Velmor.prm", Body("404", 1024), DownloadResult::Refused); // a "not found" page of 1 KB
    Publish("VelmorA.prm", Body("page", 200));                         // the error-page band
    Publish("VelmorE.prm", Body("VelmorE.prm", 1800));                 // 2x the old size
    Publish("MailLink.exe", "");                                       // empty body
    Publish("XVelmor.mdb", Body("500", 5000), DownloadResult::Refused);
    RunUpdate();
    for (const char* name : {"Velmor.prm", "VelmorA.prm", "VelmorE.prm", "MailLink.exe", "XVelmor.mdb"})
        EXPECT_TRUE(IsOld(name)) << name;
    EXPECT_TRUE(IsNew("socle.mdb"));
    EXPECT_TRUE(IsNew("Velmor.exe"));
    EXPECT_THAT(Temporaries(), ::testing::IsEmpty());
    EXPECT_EQ(window.message, kOk);
    EXPECT_THAT(events, Not(Contains("Beep")));
}

TEST_F(UpdateRunTest, EmptyDownloadWithoutOldCopyIsNotInstalled) {
    disk.files.erase("MailLink.exe");
    Publish("MailLink.exe", "");
    RunUpdate();
    EXPECT_FALSE(disk.files.contains("MailLink.exe"));
    EXPECT_FALSE(disk.files.contains("NewMailLink.exe"));
}

// A length the size tests reject leaves the file out before its body is read, as they would once
// it had been: however much the server would have sent, nothing of it is written.
TEST_F(UpdateRunTest, AnnouncedLengthTheSizeTestsRejectLeavesTheBodyUnread) {
    Publish("XVelmor.mdb", Body("XVelmor.mdb", 1000));
    server.answers[DownloadUrl("XVelmor.mdb")].announced = std::uint64_t{1} << 40; // a terabyte
    Publish("socle.mdb", Body("socle.mdb", 1000));
    server.answers[DownloadUrl("socle.mdb")].announced = 200;
    RunUpdate();
    EXPECT_TRUE(IsOld("XVelmor.mdb"));
    EXPECT_TRUE(IsOld("socle.mdb"));
    EXPECT_EQ(disk.peakSizes["NewXVelmor.mdb"], 0u);
    EXPECT_EQ(disk.peakSizes["Newsocle.mdb"], 0u);
    EXPECT_THAT(Temporaries(), ::testing::IsEmpty());
    EXPECT_EQ(window.message, kOk);
}

TEST_F(UpdateRunTest, TemporaryFileThatCannotBeDeletedAfterARejectionIsNoFailure) {
    Publish("VelmorA.prm", Body("page", 200));
    disk.failDelete.insert("NewVelmorA.prm");
    RunUpdate();
    EXPECT_TRUE(IsOld("VelmorA.prm"));
    EXPECT_TRUE(disk.files.contains("NewVelmorA.prm")); // the next run removes it first
    EXPECT_EQ(window.message, kOk);
}

// --- failures: any failure installs nothing, the run still re-checks, and reports failure -------

class FailedFileTest : public UpdateRunTest {
protected:
    // Both folders hold the whole old release. Nothing of the run is left but, signed, what it
    // received of the listed files, for the next run to prove: part of each file's published body.
    void ExpectNothingInstalled() {
        const auto installed = [this](std::map<std::string, std::string> files) {
            std::erase_if(files, [this](const auto& file) { return IsTemporary(file.first); });
            return files;
        };
        EXPECT_EQ(installed(disk.files), installed(before));
        for (const std::string& path : Temporaries()) {
            if (before.contains(path) && before.at(path) == disk.files.at(path))
                continue;
            const std::string name = path.substr(path.find_last_of('\\') + 1 + 3);
            EXPECT_TRUE(verifier && path.substr(path.find_last_of('\\') + 1).starts_with("New") &&
                        server.answers[DownloadUrl(name)].body.starts_with(disk.files.at(path)))
                << path;
        }
        EXPECT_THAT(events, Contains("recheck"));
        EXPECT_THAT(Since("recheck"), ElementsAre("recheck", "Beep", "message " + kFailed, "caption Terminer"));
        EXPECT_EQ(window.message, kFailed);
    }
};

// The first failure ends the staging: nothing more is downloaded.
TEST_F(FailedFileTest, StaleTemporaryFileThatCannotBeDeleted) {
    disk.files["NewVelmor.prm"] = "stale";
    disk.failDelete.insert("NewVelmor.prm");
    RunUpdate();
    EXPECT_THAT(events, Not(Contains("message " + Progress("Velmor.prm"))));
    EXPECT_THAT(Downloads(), ::testing::IsEmpty());
    ExpectNothingInstalled();
}

TEST_F(FailedFileTest, TransferThatFails) {
    Unpublish("VelmorE.prm");
    RunUpdate();
    EXPECT_EQ(Downloads().back(), DownloadUrl("VelmorE.prm"));
    ExpectNothingInstalled();
}

TEST_F(FailedFileTest, BodyCutShortRemovesThePartialTemporaryFile) {
    Publish("XVelmor.mdb", Body("XVelmor.mdb", 600), DownloadResult::Failed); // 600 of 1000 bytes
    RunUpdate();
    EXPECT_TRUE(IsOld("XVelmor.mdb"));
    EXPECT_FALSE(disk.files.contains("NewXVelmor.mdb"));
    ExpectNothingInstalled();
}

// Chunked, or ended by the connection's close: without a stated length, a body cut short looks whole.
TEST_F(FailedFileTest, BodyWithoutAStatedLengthIsNotInstalled) {
    Publish("MailLink.exe", Body("MailLink.exe", 1000), DownloadResult::Unproven);
    RunUpdate();
    EXPECT_TRUE(IsOld("MailLink.exe"));
    EXPECT_FALSE(disk.files.contains("NewMailLink.exe"));
    ExpectNothingInstalled();
}

// Nothing bounds such a body but the disk: it is never read.
TEST_F(FailedFileTest, BodyWithoutAStatedLengthIsNotEvenRead) {
    Publish("MailLink.exe", Body("MailLink.exe", 1000), DownloadResult::Unproven);
    RunUpdate();
    EXPECT_EQ(disk.peakSizes["NewMailLink.exe"], 0u);
    ExpectNothingInstalled();
}

// A body goes no further than it announced, into the file or anywhere.
TEST_F(FailedFileTest, BodyLongerThanAnnouncedFailsAtItsFirstExtraByte) {
    Publish("VelmorE.prm", Body("VelmorE.prm", 5000));
    server.answers[DownloadUrl("VelmorE.prm")].announced = 1000;
    RunUpdate();
    EXPECT_LE(disk.peakSizes["NewVelmorE.prm"], 1000u);
    EXPECT_FALSE(disk.files.contains("NewVelmorE.prm"));
    ExpectNothingInstalled();
}

// With no old copy to compare with, only the disk bounds the length: one that cannot fit with room
// to spare, beside every copy the run writes on that disk, fails at once, and so does one on a disk
// whose free space cannot be read.
TEST_F(FailedFileTest, AnnouncedLengthBeyondTheFreeSpaceFailsWhenNothingIsReplaced) {
    disk.files.erase("socle.mdb");
    for (const std::optional<std::uint64_t> free : {std::optional<std::uint64_t>(1000), std::optional<std::uint64_t>()}) {
        events.clear();
        disk.freeBytes = free;
        RunUpdate();
        EXPECT_FALSE(disk.files.contains("socle.mdb"));
        EXPECT_EQ(disk.peakSizes["Newsocle.mdb"], 0u);
        ExpectNothingInstalled();
    }

    // Two copies on drive C: share its space; on two drives, each has its own.
    disk.freeBytes = 1500;
    InstallElsewhere();
    disk.currentFolder = "C:\\Lumoradex";
    events.clear();
    RunUpdate();
    ExpectNothingInstalled();
    disk.currentFolder = "D:\\Lumoradex";
    events.clear();
    RunUpdate();
    EXPECT_TRUE(IsNew("socle.mdb"));
    EXPECT_TRUE(IsNew(Installed("socle.mdb")));
}

// The old copy's length is what the size tests judge by: unread, nothing is installed.
TEST_F(FailedFileTest, OldCopyWhoseLengthCannotBeRead) {
    disk.failLength.insert("socle.mdb");
    RunUpdate();
    EXPECT_TRUE(IsOld("socle.mdb"));
    EXPECT_FALSE(disk.files.contains("Newsocle.mdb"));
    ExpectNothingInstalled();
}

TEST_F(FailedFileTest, TemporaryFileThatCannotBeCreated) {
    disk.failCreate.insert("NewMailLink.exe");
    RunUpdate();
    EXPECT_TRUE(IsOld("MailLink.exe"));
    EXPECT_FALSE(disk.files.contains("NewMailLink.exe"));
    ExpectNothingInstalled();
}

TEST_F(FailedFileTest, TemporaryFileThatCannotBeWrittenWhole) {
    disk.failWriteAfter["Newsocle.mdb"] = 300; // the disk fills up
    RunUpdate();
    EXPECT_TRUE(IsOld("socle.mdb"));
    EXPECT_FALSE(disk.files.contains("Newsocle.mdb"));
    ExpectNothingInstalled();
}

TEST_F(FailedFileTest, TemporaryFileThatCannotBeFlushed) {
    disk.failCommit.insert("NewVelmorA.prm");
    RunUpdate();
    EXPECT_TRUE(IsOld("VelmorA.prm"));
    EXPECT_FALSE(disk.files.contains("NewVelmorA.prm"));
    ExpectNothingInstalled();
}

TEST_F(FailedFileTest, FileStillInUseAfterThirtySeconds) {
    disk.inUseTimes["Velmor.prm"] = 1000;
    RunUpdate();
    EXPECT_EQ(process.sleptMilliseconds.load(), 30000);
    ExpectNothingInstalled();
}

TEST_F(UpdateRunTest, FileInUseIsReplacedOnceTheApplicationHasClosed) {
    disk.inUseTimes["Velmor.exe"] = 5;
    RunUpdate();
    EXPECT_TRUE(IsNew("Velmor.exe"));
    EXPECT_FALSE(disk.files.contains("NewVelmor.exe"));
    EXPECT_EQ(process.sleptMilliseconds.load(), 500);
    EXPECT_EQ(window.message, kOk);
}

TEST_F(UpdateRunTest, NoFileAtAllStillReachesTheRecheck) {
    server.answers.clear();
    RunUpdate();
    for (std::string_view name : kUpdateFileList)
        EXPECT_TRUE(IsOld(std::string(name))) << name;
    // Asked twice, each attempt that brings nothing counting as two.
    EXPECT_THAT(Downloads(), ElementsAre(DownloadUrl("Velmor.prm"), DownloadUrl("Velmor.prm")));
    EXPECT_EQ(process.sleptMilliseconds.load(), 250);
    EXPECT_THAT(Since("recheck"), ElementsAre("recheck", "Beep", "message " + kFailed, "caption Terminer"));
}

// --- the result test ---------------------------------------------------------------------------

TEST_F(UpdateRunTest, RecheckStillFindingAnUpdateReportsFailureAfterOneBeep) {
    recheck = [this] {
        window.vLocale = "4.2.0";
        window.vSite = "4.2.1";
        window.miseAJourVisible = true; // the load handler offers the update again
    };
    RunUpdate();
    EXPECT_THAT(Since("recheck"), ElementsAre("recheck", "Beep", "message " + kFailed, "caption Terminer"));
    EXPECT_TRUE(window.miseAJourVisible);
}

TEST_F(UpdateRunTest, VersionsEqualAsNumbersReportSuccess) {
    recheck = [this] {
        window.vLocale = "4.2.0";
        window.vSite = "4.2";
    };
    RunUpdate();
    EXPECT_EQ(window.message, kOk);
}

// --- modes ---------------------------------------------------------------------------------------

TEST_F(UpdateRunTest, InteractiveRunLeavesTheWindowOpen) {
    RunUpdate();
    EXPECT_THAT(events, Not(Contains("EndProgram")));
    EXPECT_EQ(events.back(), "caption Terminer");
}

TEST_F(UpdateRunTest, AutomaticRunStartsTheApplicationMinimisedAndEnds) {
    disk.commandLine = "";
    RunUpdate();
    EXPECT_THAT(Since("caption Terminer"), ElementsAre("caption Terminer", "StartProgram Velmor.exe 2", "EndProgram"));
}

TEST_F(UpdateRunTest, AutomaticRunEndsEvenWhenItFailsAndTheApplicationCannotStart) {
    disk.commandLine = "";
    process.failStart = true;
    server.answers.clear();
    RunUpdate();
    EXPECT_THAT(Since("message " + kFailed),
                ElementsAre("message " + kFailed, "caption Terminer", "StartProgram Velmor.exe 2", "EndProgram"));
}

// --- the mirror copy in the installation folder -------------------------------------------------

TEST_F(UpdateRunTest, WorkingElsewhereCopiesEveryInstalledFileIntoTheInstallation) {
    InstallElsewhere();
    disk.files[Installed("Velmor.prm")] = Body("Velmor.prm", 900, 'o');
    Publish("VelmorE.prm", Body("page", 180)); // rejected: not copied either
    RunUpdate();
    for (std::string_view name : kUpdateFileList) {
        if (name == "VelmorE.prm")
            continue;
        EXPECT_TRUE(IsNew(Installed(std::string(name)))) << name; // also those the installation lacked
    }
    EXPECT_FALSE(disk.files.contains(Installed("VelmorE.prm")));
    EXPECT_THAT(disk.replacements, Contains(Installed("Velmor.exe") + " <- " + Installed("NewVelmor.exe")));
    EXPECT_THAT(Temporaries(), ::testing::IsEmpty());
    EXPECT_EQ(window.message, kOk);
    ASSERT_FALSE(disk.sameFolderQueries.empty());
    EXPECT_EQ(disk.sameFolderQueries[0], std::make_pair(disk.currentFolder, std::string(kInstallationFolder)));
}

TEST_F(UpdateRunTest, WorkingInTheInstallationFolderMakesNoMirrorCopy) {
    InstallElsewhere();
    disk.sameFolder = true; // e.g. "c:\PROGRA~1\LUMORA~1\"
    RunUpdate();
    for (std::string_view name : kUpdateFileList)
        EXPECT_EQ(disk.files.contains(Installed(std::string(name))), name == "Velmor.exe") << name;
    EXPECT_TRUE(IsOld(std::string(kInstalledExecutable)));
    EXPECT_EQ(disk.replacements.size(), 7u);
}

TEST_F(UpdateRunTest, WithoutAnInstallationNoMirrorCopyIsMade) {
    disk.currentFolder = "D:\\Lumoradex";
    RunUpdate();
    for (std::string_view name : kUpdateFileList)
        EXPECT_FALSE(disk.files.contains(Installed(std::string(name)))) << name;
}

// The installation folder's copies are staged with the working folder's: one that cannot be made
// fails the whole release in both folders.
TEST_F(FailedFileTest, InstallationCopyThatCannotBeStaged) {
    InstallElsewhere();
    disk.files[Installed("XVelmor.mdb")] = Body("XVelmor.mdb", 900, 'o');
    disk.failCreate.insert(Installed("NewXVelmor.mdb"));
    RunUpdate();
    ExpectNothingInstalled();
}

// The commit, once everything is staged: Velmor.exe last, the installation folder's before the
// working folder's, so that the version the next start reads is new only once everything else is.
TEST_F(UpdateRunTest, TheCommitReplacesVelmorExeLastOfAll) {
    InstallElsewhere();
    bool untouchedUntilTheLastDownload = false;
    server.onDownload[DownloadUrl("Velmor.exe")] = [&] { untouchedUntilTheLastDownload = disk.replacements.empty(); };
    RunUpdate();
    EXPECT_TRUE(untouchedUntilTheLastDownload);
    ASSERT_EQ(disk.replacements.size(), 14u);
    EXPECT_EQ(disk.replacements[12], Installed("Velmor.exe") + " <- " + Installed("NewVelmor.exe"));
    EXPECT_EQ(disk.replacements[13], "Velmor.exe <- NewVelmor.exe");
    EXPECT_THAT(Temporaries(), ::testing::IsEmpty());
}

// A replacement that fails, at any point of the commit, puts back every file already replaced: both
// folders hold the whole old release, and nothing of the run is left, not even the old files kept
// aside during the commit.
class FailedReplacementTest : public FailedFileTest, public ::testing::WithParamInterface<int> {};

TEST_P(FailedReplacementTest, PutsBackEveryFileReplacedBefore) {
    InstallElsewhere();
    for (std::string_view name : kUpdateFileList)
        disk.files[Installed(std::string(name))] = Body(std::string(name), 900, 'o');
    disk.files.erase(Installed("socle.mdb")); // a file the installation lacks goes again
    const std::string name(kUpdateFileList[static_cast<std::size_t>(GetParam() / 2)]);
    const std::string target = GetParam() % 2 == 0 ? Installed(name) : name;
    if (target == Installed("socle.mdb"))
        disk.inUseTimes[target] = 1000; // held past the retry
    else
        disk.failReplace.insert(target);
    RunUpdate();
    ExpectNothingInstalled();
}

INSTANTIATE_TEST_SUITE_P(AnyReplacement, FailedReplacementTest, ::testing::Range(0, 14));

TEST_F(FailedFileTest, AnOldFileThatCannotBeKeptAsideFailsTheCommit) {
    disk.failKeepAside.insert("Velmor.exe");
    RunUpdate();
    ExpectNothingInstalled();
}

// What an interrupted commit left: the old files kept aside go where their name holds a whole file,
// old or new, and are put back where it is missing; the run then installs the release.
TEST_F(UpdateRunTest, AnInterruptedCommitIsClearedFirst) {
    InstallElsewhere();
    disk.files["OldVelmor.prm"] = disk.files["Velmor.prm"];
    disk.files["Velmor.prm"] = Body("Velmor.prm", 1000);
    disk.files[Installed("OldVelmor.exe")] = disk.files[std::string(kInstalledExecutable)];
    disk.files["OldXVelmor.mdb"] = disk.files["XVelmor.mdb"];
    disk.files.erase("XVelmor.mdb");
    disk.failCreate.insert("NewVelmor.prm"); // so that nothing is installed after the clearing
    RunUpdate();
    EXPECT_TRUE(IsOld("XVelmor.mdb"));
    EXPECT_FALSE(disk.files.contains("OldVelmor.prm"));
    EXPECT_FALSE(disk.files.contains(Installed("OldVelmor.exe")));
    EXPECT_THAT(Temporaries(), ::testing::IsEmpty());

    disk.failCreate.clear();
    RunUpdate();
    for (std::string_view name : kUpdateFileList)
        EXPECT_TRUE(IsNew(std::string(name))) << name;
}

// A kill at any moment of a commit, in either folder: the next run finishes what it left to one
// whole release in each folder before anything else, even when that run then fails.
TEST_F(UpdateRunTest, AKillAnywhereInTheCommitLeavesEachFolderWhollyOldOrNew) {
    InstallElsewhere();
    for (std::string_view name : kUpdateFileList)
        disk.files[Installed(std::string(name))] = Body(std::string(name), 900, 'o');
    disk.recordMoments = true;
    RunUpdate();
    disk.recordMoments = false;
    const std::vector<std::map<std::string, std::string>> moments = std::move(disk.moments);
    ASSERT_GE(moments.size(), 4 * kUpdateFileList.size()); // each folder: aside, rename, removal of the aside
    server.answers.clear();                                // the next run fails at its first file
    const auto wholeFolder = [&](const std::string& folder) {
        const auto path = [&](std::string_view name) {
            return folder.empty() ? std::string(name) : Installed(std::string(name));
        };
        const bool allOld =
            std::ranges::all_of(kUpdateFileList, [&](std::string_view name) { return IsOld(path(name)); });
        const bool allNew =
            std::ranges::all_of(kUpdateFileList, [&](std::string_view name) { return IsNew(path(name)); });
        return allOld || allNew;
    };
    for (std::size_t moment = 0; moment < moments.size(); ++moment) {
        disk.files = moments[moment];
        RunUpdate();
        EXPECT_TRUE(wholeFolder("")) << "working folder, killed at moment " << moment;
        EXPECT_TRUE(wholeFolder(std::string(kInstallationFolder)))
            << "installation folder, killed at moment " << moment;
        EXPECT_FALSE(std::ranges::any_of(Temporaries(), [](const std::string& path) {
            return path.substr(path.find_last_of('\\') + 1).starts_with("Old");
        })) << moment;
        EXPECT_EQ(window.message, kFailed);
    }
}

// Two runs in one folder, the application started twice: while one holds the folder from its staging
// to its commit, the other fails at once and touches nothing, not even what is left to clear.
TEST_F(UpdateRunTest, ASecondRunInTheSameFolderChangesNothing) {
    InstallElsewhere();
    ReleaseInstallation first({disk, server, disk, process, verifier, &window}, window);
    std::optional<StagedRelease> staged = first.Stage(true);
    ASSERT_TRUE(staged);
    disk.files["OldVelmor.prm"] = disk.files["Velmor.prm"]; // as if the first one had begun its commit
    const std::map<std::string, std::string> during = disk.files;
    events.clear();
    RunUpdate();
    EXPECT_EQ(disk.files, during);
    EXPECT_THAT(Downloads(), ::testing::IsEmpty());
    EXPECT_EQ(window.message, kFailed);

    disk.files.erase("OldVelmor.prm");
    EXPECT_TRUE(first.CommitClosingTheApplication(std::move(*staged)));
    for (std::string_view name : kUpdateFileList)
        EXPECT_TRUE(IsNew(std::string(name))) << name;
    EXPECT_THAT(disk.heldFolders, ::testing::IsEmpty()); // the next run may install again
}

// --- signed releases: the list is proven before the first file, each file by its line ----------

void ServeRelease(FakeServer& server, const std::string& list, const std::string& signature) {
    server.texts[DownloadUrl("release.txt")] = list;
    server.texts[DownloadUrl("release.sig")] = signature;
}
void SignRelease(FakeServer& server, const std::string& list) { ServeRelease(server, list, Der(FakeSignature(list))); }

class SignedRunTest : public FailedFileTest {
protected:
    SignedRunTest() {
        verifier = &fakeVerifier;
        disk.versions["D:\\Lumoradex\\Velmor.exe"] = "4.2.0";
        Publish("Velmor.prm", Body("Velmor.prm", 200));       // the size of an error page
        Publish("MailLink.exe", Body("MailLink.exe", 40000)); // far from the installed size
        Publish("XVelmor.mdb", Body("XVelmor.mdb", 1000), DownloadResult::Unproven); // streamed
        SignRelease(ListOfPublished("4.2.1"));
    }

    // What the maker's script writes for the files the server publishes now.
    std::string ListOfPublished(const std::string& version) const {
        std::string list = "version " + version + "\n";
        for (std::string_view name : kUpdateFileList) {
            if (auto answer = server.answers.find(DownloadUrl(name)); answer != server.answers.end())
                list += Hex(FakeDigest(answer->second.body)) + " " + std::to_string(answer->second.body.size()) + " " +
                        std::string(name) + "\n";
        }
        return list;
    }
    void SignRelease(const std::string& list) { lumoradex::SignRelease(server, list); }
    bool IsPublished(const std::string& name) const {
        return disk.files.at(name) == server.answers.at(DownloadUrl(name)).body;
    }
    void ExpectNothingDownloaded() {
        EXPECT_THAT(Downloads(), ::testing::IsEmpty());
        for (std::string_view name : kUpdateFileList)
            EXPECT_TRUE(IsOld(std::string(name))) << name;
        EXPECT_THAT(Since("recheck"), ElementsAre("recheck", "Beep", "message " + kFailed, "caption Terminer"));
    }

    FakeVerifier fakeVerifier;
};

// The size tests guard unsigned releases only: a proven file installs whatever its size or framing.
TEST_F(SignedRunTest, ProvenReleaseInstallsEveryListedFile) {
    RunUpdate();
    ASSERT_GE(events.size(), 5u);
    EXPECT_EQ(events[1], "fetch " + DownloadUrl("release.txt"));
    EXPECT_EQ(events[2], "fetch " + DownloadUrl("release.sig"));
    EXPECT_EQ(Downloads().size(), kUpdateFileList.size());
    for (std::string_view name : kUpdateFileList)
        EXPECT_TRUE(IsPublished(std::string(name))) << name;
    EXPECT_THAT(Temporaries(), ::testing::IsEmpty());
    EXPECT_EQ(window.message, kOk);
}

TEST_F(SignedRunTest, SameVersionAgainIsARepair) {
    disk.versions["D:\\Lumoradex\\Velmor.exe"] = "4.2.1";
    RunUpdate();
    EXPECT_TRUE(IsPublished("Velmor.exe"));
    EXPECT_EQ(window.message, kOk);
}

TEST_F(SignedRunTest, FileChangedButOfTheSameSizeFailsTheWholeRelease) {
    const std::string list = ListOfPublished("4.2.1");
    Publish("socle.mdb", Body("socle.mdb", 1000, 'x'));
    SignRelease(list);
    RunUpdate();
    ExpectNothingInstalled();
}

TEST_F(SignedRunTest, ListedFileTheServerRefusesIsAFailure) {
    const std::string list = ListOfPublished("4.2.1");
    Publish("VelmorE.prm", "<html>404</html>", DownloadResult::Refused);
    SignRelease(list);
    RunUpdate();
    EXPECT_TRUE(IsOld("VelmorE.prm"));
    ExpectNothingInstalled();
}

TEST_F(SignedRunTest, FileLeftOutOfTheListIsLeftAsItIs) {
    Unpublish("VelmorA.prm");
    SignRelease(ListOfPublished("4.2.1"));
    RunUpdate();
    EXPECT_THAT(Downloads(), Not(Contains(DownloadUrl("VelmorA.prm"))));
    EXPECT_TRUE(IsOld("VelmorA.prm"));
    EXPECT_EQ(window.message, kOk);
}

// The release is judged against the executable it would replace, by its full path: not against the
// window's version, which the library search order may have read from another copy (beside the
// updater, say), nor against an unreadable one.
TEST_F(SignedRunTest, OlderReleaseThanTheWorkingFolderExecutableInstallsNothing) {
    for (const char* installed : {"4.9.3", "0.0.0"}) {
        events.clear();
        window.vLocale = "4.1.0";
        disk.versions["D:\\Lumoradex\\Velmor.exe"] = installed;
        RunUpdate();
        ExpectNothingDownloaded();
        EXPECT_THAT(disk.versionQueries, Contains("D:\\Lumoradex\\Velmor.exe"));
    }
}

// Each folder is judged by its own executable: a replayed older release updates the working folder
// but never takes the installation folder back; an installation whose version cannot be read gets
// nothing, and nothing is installed anywhere.
TEST_F(SignedRunTest, EachFolderIsJudgedByItsOwnExecutable) {
    for (std::string_view name : kUpdateFileList)
        disk.files[Installed(std::string(name))] = Body(std::string(name), 900, 'o');
    const std::map<std::string, std::string> installation = [&] {
        std::map<std::string, std::string> files;
        for (std::string_view name : kUpdateFileList)
            files[Installed(std::string(name))] = disk.files[Installed(std::string(name))];
        return files;
    }();
    disk.versions[std::string(kInstalledExecutable)] = "4.3.0";
    RunUpdate();
    for (std::string_view name : kUpdateFileList) {
        EXPECT_TRUE(IsPublished(std::string(name))) << name;
        EXPECT_EQ(disk.files[Installed(std::string(name))], installation.at(Installed(std::string(name)))) << name;
    }
    EXPECT_EQ(window.message, kOk);

    for (std::string_view name : kUpdateFileList)
        disk.files[std::string(name)] = Body(std::string(name), 900, 'o');
    events.clear();
    disk.versions[std::string(kInstalledExecutable)] = "0.0.0";
    RunUpdate();
    ExpectNothingDownloaded();
    EXPECT_EQ(disk.files[Installed("Velmor.prm")], installation.at(Installed("Velmor.prm")));
}

// Announced or not, a body is the listed size or nothing: a different length fails before any byte
// is written, a longer body at its first extra byte.
TEST_F(SignedRunTest, BodyNotOfTheListedSizeFailsWithoutGrowingPastIt) {
    const std::string list = ListOfPublished("4.2.1");
    server.answers[DownloadUrl("socle.mdb")].announced = std::uint64_t{1} << 40;
    Publish("XVelmor.mdb", Body("XVelmor.mdb", 1000) + std::string(100000, 'x'), DownloadResult::Unproven);
    SignRelease(list);
    RunUpdate();
    EXPECT_EQ(disk.peakSizes["Newsocle.mdb"], 0u);
    EXPECT_LE(disk.peakSizes["NewXVelmor.mdb"], 1000u);
    EXPECT_TRUE(IsOld("socle.mdb"));
    EXPECT_TRUE(IsOld("XVelmor.mdb"));
    ExpectNothingInstalled();
}

// --- a dropped connection costs only what it dropped ---------------------------------------------

// The body of socle.mdb as a static web server gives it: known by a strong tag, ranges honoured.
FakeAnswer Served(std::string body, std::string validator = "\"v1\"") {
    FakeAnswer answer{DownloadResult::Complete, std::move(body)};
    answer.validator = std::move(validator);
    answer.honoursRanges = true;
    return answer;
}
FakeAnswer CutAt(FakeAnswer answer, std::size_t bytes) {
    answer.cutAfter = bytes;
    return answer;
}

std::vector<std::optional<std::uint64_t>> ResumedFrom(const FakeServer& server, const std::string& name) {
    std::vector<std::optional<std::uint64_t>> offsets;
    for (const DownloadRequest& request : server.requests) {
        if (request.url == DownloadUrl(name))
            offsets.push_back(request.resume ? std::optional(request.resume->offset) : std::nullopt);
    }
    return offsets;
}

TEST_F(UpdateRunTest, ADroppedConnectionGoesOnFromWhereItStopped) {
    disk.files["socle.mdb"] = Body("socle.mdb", 9000, 'o');
    const FakeAnswer served = Served(Body("socle.mdb", 10000));
    server.SetSequence(DownloadUrl("socle.mdb"), {CutAt(served, 4000), CutAt(served, 3000), served});
    RunUpdate();
    ASSERT_THAT(ResumedFrom(server, "socle.mdb"), ElementsAre(std::nullopt, 4000u, 7000u));
    EXPECT_EQ(server.requests[6].resume->validator, "\"v1\"");
    EXPECT_EQ(disk.files["socle.mdb"], served.body);
    EXPECT_EQ(process.sleptMilliseconds.load(), 250 + 1000);
    EXPECT_THAT(Temporaries(), ::testing::IsEmpty());
    EXPECT_EQ(window.message, kOk);
}

// Whatever else answers the resumption, the bytes of two answers are never joined: the file starts
// again from its first byte, and only a whole body is installed.
TEST_F(UpdateRunTest, AnAnswerThatIsNotTheRestStartsTheFileAgain) {
    const std::string first = Body("socle.mdb", 3000);
    std::string changed = Body("socle.mdb", 3000);
    changed[500] = 'c';
    FakeAnswer anotherStart = Served(first.substr(300));
    anotherStart.part = BodyPart{300, 2999, 3000};
    FakeAnswer anotherTotal = Served(first.substr(1200) + "xx");
    anotherTotal.part = BodyPart{1200, 3001, 3002};
    struct Case {
        const char* what;
        FakeAnswer first;
        std::vector<FakeAnswer> then;
        std::vector<std::optional<std::uint64_t>> resumedFrom;
        std::string installed;
    };
    const std::vector<Case> cases = {
        {"a 200", CutAt(Served(first), 1200), {FakeAnswer{DownloadResult::Complete, first}}, {std::nullopt, 1200u}, first},
        {"a changed body", CutAt(Served(first), 1200), {Served(changed, "\"v2\"")}, {std::nullopt, 1200u}, changed},
        {"another start", CutAt(Served(first), 1200), {anotherStart, Served(first)}, {std::nullopt, 1200u, std::nullopt},
         first},
        {"another total", CutAt(Served(first), 1200), {anotherTotal, Served(first)}, {std::nullopt, 1200u, std::nullopt},
         first},
        {"a 416", CutAt(Served(first), 1200), {FakeAnswer{DownloadResult::Refused}, Served(first)},
         {std::nullopt, 1200u, std::nullopt}, first},
        {"no validator", CutAt(Served(first, ""), 1200), {Served(first, "")}, {std::nullopt, std::nullopt}, first},
    };
    for (const Case& c : cases) {
        disk.files["socle.mdb"] = Body("socle.mdb", 2500, 'o');
        server.requests.clear();
        std::vector<FakeAnswer> answers = {c.first};
        answers.insert(answers.end(), c.then.begin(), c.then.end());
        server.SetSequence(DownloadUrl("socle.mdb"), answers);
        RunUpdate();
        EXPECT_EQ(ResumedFrom(server, "socle.mdb"), c.resumedFrom) << c.what;
        EXPECT_EQ(disk.files["socle.mdb"], c.installed) << c.what;
        EXPECT_THAT(Temporaries(), ::testing::IsEmpty()) << c.what;
    }
}

// Cut at the same byte of every whole answer, with no validator to go on under: four attempts.
TEST_F(UpdateRunTest, AServerThatCutsEveryAnswerAtTheSameByteFailsTheFile) {
    disk.files["socle.mdb"] = Body("socle.mdb", 150000, 'o');
    server.SetSequence(DownloadUrl("socle.mdb"), {CutAt(Served(Body("socle.mdb", 200000), ""), 100000)});
    RunUpdate();
    EXPECT_EQ(ResumedFrom(server, "socle.mdb").size(), 4u);
    EXPECT_TRUE(IsOld("socle.mdb"));
    EXPECT_EQ(window.message, kFailed);
}

TEST_F(UpdateRunTest, AServerThatNeverSendsAByteFailsTheFileWithinItsAttempts) {
    server.SetSequence(DownloadUrl("socle.mdb"), {CutAt(Served(Body("socle.mdb", 1000)), 0)});
    RunUpdate();
    EXPECT_EQ(ResumedFrom(server, "socle.mdb").size(), 2u);
    EXPECT_TRUE(server.requests.back().firstByteBy.has_value());
    EXPECT_TRUE(IsOld("socle.mdb"));
    EXPECT_THAT(Temporaries(), ::testing::IsEmpty()); // unsigned: nothing could prove it in a later run
    EXPECT_EQ(window.message, kFailed);
}

// Signed, the listed digest proves a join: no validator is needed, and one that proves wrong gives the
// file one whole download more.
TEST_F(SignedRunTest, AJoinIsProvenByTheListedDigest) {
    const std::string listed = server.answers[DownloadUrl("socle.mdb")].body;
    std::string other = listed;
    other[900] = 'x';
    server.SetSequence(DownloadUrl("socle.mdb"), {CutAt(Served(listed, ""), 400), Served(other, ""), Served(listed, "")});
    RunUpdate();
    EXPECT_THAT(ResumedFrom(server, "socle.mdb"), ElementsAre(std::nullopt, 400u, std::nullopt));
    EXPECT_TRUE(IsPublished("socle.mdb"));
    EXPECT_EQ(window.message, kOk);
}

// What a failed run received is kept and proven by the next, never installed unproven.
TEST_F(SignedRunTest, TheNextRunDoesNotDownloadAgainWhatItCanProve) {
    const std::string socle = server.answers[DownloadUrl("socle.mdb")].body;
    server.SetSequence(DownloadUrl("socle.mdb"), {CutAt(Served(socle, ""), 400), FakeAnswer{DownloadResult::Refused}});
    RunUpdate();
    EXPECT_EQ(window.message, kFailed);
    EXPECT_EQ(disk.files["Newsocle.mdb"], socle.substr(0, 400));
    EXPECT_EQ(disk.files["NewXVelmor.mdb"], server.answers[DownloadUrl("XVelmor.mdb")].body);

    events.clear();
    server.requests.clear();
    server.SetSequence(DownloadUrl("socle.mdb"), {Served(socle, "")});
    RunUpdate();
    EXPECT_THAT(Downloads(), ElementsAre(DownloadUrl("socle.mdb"), DownloadUrl("Velmor.exe")));
    ASSERT_TRUE(server.requests.front().resume);
    EXPECT_EQ(server.requests.front().resume->offset, 400u);
    EXPECT_EQ(server.requests.front().resume->validator, "");
    for (std::string_view name : kUpdateFileList)
        EXPECT_TRUE(IsPublished(std::string(name))) << name;
    EXPECT_THAT(Temporaries(), ::testing::IsEmpty());
    EXPECT_EQ(window.message, kOk);
}

// A kept file that cannot be the listed one goes, and the file is downloaded whole: one longer than
// listed, one that is whole but proves wrong, one left by another release that proves wrong once
// joined, and a link another program planted there.
TEST_F(SignedRunTest, AKeptFileThatCannotBeProvenIsDownloadedWhole) {
    const std::string socle = server.answers[DownloadUrl("socle.mdb")].body;
    struct Case {
        const char* what;
        std::string kept;
        bool link;
        std::vector<std::optional<std::uint64_t>> resumedFrom;
    };
    std::string wrong = socle;
    wrong[10] = 'x';
    const std::vector<Case> cases = {
        {"longer", socle + "x", false, {std::nullopt}},
        {"whole but wrong", wrong, false, {std::nullopt}},
        {"another release's", wrong.substr(0, 500), false, {500u, std::nullopt}},
        {"a link", socle.substr(0, 500), true, {std::nullopt}},
    };
    for (const Case& c : cases) {
        for (std::string_view name : kUpdateFileList)
            disk.files[std::string(name)] = Body(std::string(name), 900, 'o');
        disk.files["Newsocle.mdb"] = c.kept;
        if (c.link)
            disk.links.insert("Newsocle.mdb");
        server.requests.clear();
        server.SetSequence(DownloadUrl("socle.mdb"), {Served(socle, "")});
        RunUpdate();
        EXPECT_EQ(ResumedFrom(server, "socle.mdb"), c.resumedFrom) << c.what;
        EXPECT_TRUE(IsPublished("socle.mdb")) << c.what;
        EXPECT_EQ(window.message, kOk) << c.what;
    }
}

TEST_F(SignedRunTest, AKeptFileIsCopiedToTheInstallationFolderFromItsProvenBytes) {
    InstallElsewhere();
    disk.files[Installed("socle.mdb")] = Body("socle.mdb", 900, 'o');
    const std::string socle = server.answers[DownloadUrl("socle.mdb")].body;
    disk.files[Installed("Newsocle.mdb")] = socle.substr(0, 600);
    disk.files["Newsocle.mdb"] = "planted";
    server.SetSequence(DownloadUrl("socle.mdb"), {Served(socle, "")});
    RunUpdate();
    EXPECT_THAT(ResumedFrom(server, "socle.mdb"), ElementsAre(600u));
    EXPECT_EQ(disk.files[Installed("socle.mdb")], socle);
    EXPECT_EQ(disk.files["socle.mdb"], socle);
    EXPECT_THAT(Temporaries(), ::testing::IsEmpty());
}

// --- only what changed: current copies skipped, patches from the installed copy ----------------

// A VCDIFF patch (default code table) that puts `added` before the first `kept` bytes of the old
// file: one window, an ADD then a COPY from the source segment.
std::string AddThenCopyPatch(std::size_t oldSize, const std::string& added, std::size_t kept) {
    const auto integer = [](std::size_t value) {
        std::string bytes(1, static_cast<char>(value & 0x7f));
        while (value >>= 7)
            bytes.insert(bytes.begin(), static_cast<char>(0x80 | (value & 0x7f)));
        return bytes;
    };
    const std::string instructions = "\x01" + integer(added.size()) + "\x13" + integer(kept); // ADD 0, COPY 0
    const std::string addresses = integer(0);
    std::string delta = integer(kept + added.size()) + '\0' + integer(added.size()) + integer(instructions.size()) +
                        integer(addresses.size()) + added + instructions + addresses;
    return std::string("\xD6\xC3\xC4\x00\x00\x01", 6) + integer(oldSize) + integer(0) + integer(delta.size()) + delta;
}

class PatchedRunTest : public SignedRunTest {
public:
    using SignedRunTest::disk;
    using SignedRunTest::server;

    // XVelmor.mdb's new release is 100 new bytes, then the installed copy's first 800.
    PatchedRunTest() {
        Publish("XVelmor.mdb", std::string(100, 'n') + oldDatabase.substr(0, 800));
        patch = AddThenCopyPatch(oldDatabase.size(), std::string(100, 'n'), 800);
        SignRelease(ListOfPublished("4.2.1"));
        OfferPatch(FakeDigest(oldDatabase), patch);
    }
    // Publishes the patch at its place and signs a list that offers it.
    void OfferPatch(const Sha256Digest& from, const std::string& listed, std::string served = {}) {
        const std::string line = "patch " + Hex(from) + " " + Hex(FakeDigest(listed)) + " " +
                                 std::to_string(listed.size()) + " XVelmor.mdb\n";
        server.texts[DownloadUrl("patches.txt")] = "version 4.2.1\n" + line;
        server.texts[DownloadUrl("patches.sig")] = Der(FakeSignature("version 4.2.1\n" + line));
        server.answers[PatchUrl()] = FakeAnswer{DownloadResult::Complete, served.empty() ? listed : served};
    }
    std::string PatchUrl() const { return DownloadUrl(PatchPath("XVelmor.mdb", FakeDigest(oldDatabase))); }
    void ExpectWholeRelease() {
        for (std::string_view name : kUpdateFileList)
            EXPECT_TRUE(IsPublished(std::string(name))) << name;
        EXPECT_THAT(Temporaries(), ::testing::IsEmpty());
        EXPECT_EQ(window.message, kOk);
    }

    const std::string oldDatabase = disk.files.at("XVelmor.mdb");
    std::string patch;
};

TEST_F(PatchedRunTest, CurrentCopiesAreKeptAndChangedOnesPatched) {
    for (const char* current : {"Velmor.prm", "VelmorA.prm", "MailLink.exe"})
        disk.files[current] = server.answers.at(DownloadUrl(current)).body;
    const std::string patchUrl = PatchUrl();
    RunUpdate();
    EXPECT_EQ(Downloads(), (std::vector<std::string>{DownloadUrl("VelmorE.prm"), patchUrl, DownloadUrl("socle.mdb"),
                                                     DownloadUrl("Velmor.exe")}));
    EXPECT_THAT(disk.openedToRead, Contains("XVelmor.mdb"));
    EXPECT_THAT(disk.replacements, Not(Contains("Velmor.prm <- NewVelmor.prm")));
    ExpectWholeRelease();
}

// A copy that is current already is neither downloaded nor replaced, whatever its size.
TEST_F(SignedRunTest, ALargeCurrentCopyIsNotDownloaded) {
    const std::string large = Body("XVelmor.mdb", 5 * 1024 * 1024);
    Publish("XVelmor.mdb", large);
    disk.files["XVelmor.mdb"] = large;
    SignRelease(ListOfPublished("4.2.1"));
    RunUpdate();
    EXPECT_THAT(Downloads(), Not(Contains(DownloadUrl("XVelmor.mdb"))));
    EXPECT_THAT(disk.replacements, Not(Contains("XVelmor.mdb <- NewXVelmor.mdb")));
    EXPECT_TRUE(IsPublished("socle.mdb"));
    EXPECT_THAT(Temporaries(), ::testing::IsEmpty());
    EXPECT_EQ(window.message, kOk);
}

// A patch is tried before the installed copy is hashed; a copy that is current already (a repair)
// is then left as it is rather than downloaded.
TEST_F(PatchedRunTest, ACurrentCopyOfAPatchedFileIsLeftAsItIs) {
    disk.files["XVelmor.mdb"] = server.answers.at(DownloadUrl("XVelmor.mdb")).body;
    RunUpdate();
    EXPECT_THAT(Downloads(), Not(Contains(DownloadUrl("XVelmor.mdb"))));
    EXPECT_THAT(disk.replacements, Not(Contains("XVelmor.mdb <- NewXVelmor.mdb")));
    ExpectWholeRelease();
}

// Whatever goes wrong with a patch, the whole file is downloaded instead, once; a patch is never
// decoded before it is proven.
struct PatchFault {
    const char* name;
    void (*spoil)(PatchedRunTest& test);
};

class PatchFallbackTest : public PatchedRunTest, public ::testing::WithParamInterface<PatchFault> {};

TEST_P(PatchFallbackTest, DownloadsTheWholeFileOnce) {
    const std::string patchUrl = PatchUrl();
    GetParam().spoil(*this);
    RunUpdate();
    EXPECT_EQ(std::ranges::count(Downloads(), DownloadUrl("XVelmor.mdb")), 1);
    EXPECT_LE(std::ranges::count(Downloads(), patchUrl), 1);
    EXPECT_FALSE(disk.files.contains("NewXVelmor.mdb.vcdiff"));
    ExpectWholeRelease();
}

INSTANTIATE_TEST_SUITE_P(
    Patch, PatchFallbackTest,
    ::testing::Values(
        PatchFault{"Missing", [](PatchedRunTest& t) { t.server.answers.erase(t.PatchUrl()); }},
        PatchFault{"ChangedAfterSigning",
                   [](PatchedRunTest& t) {
                       std::string changed = t.patch;
                       changed.back() ^= 1;
                       t.OfferPatch(FakeDigest(t.oldDatabase), t.patch, changed);
                   }},
        PatchFault{"ProvenButNotVcdiff",
                   [](PatchedRunTest& t) {
                       t.OfferPatch(FakeDigest(t.oldDatabase), "not a patch at all");
                   }},
        PatchFault{"ProvenButMakesAnotherFile",
                   [](PatchedRunTest& t) {
                       t.OfferPatch(FakeDigest(t.oldDatabase),
                                    AddThenCopyPatch(900, std::string(100, 'x'), 800));
                   }},
        PatchFault{"ProvenButLongerThanTheFile",
                   [](PatchedRunTest& t) {
                       t.OfferPatch(FakeDigest(t.oldDatabase),
                                    AddThenCopyPatch(900, std::string(5000, 'n'), 800));
                   }},
        PatchFault{"InstalledCopyUnreadable", [](PatchedRunTest& t) { t.disk.failOpen.insert("XVelmor.mdb"); }},
        PatchFault{"InstalledCopyMissing", [](PatchedRunTest& t) { t.disk.files.erase("XVelmor.mdb"); }},
        PatchFault{"ListOfAnotherVersion",
                   [](PatchedRunTest& t) {
                       std::string& list = t.server.texts[DownloadUrl("patches.txt")];
                       list.replace(0, 13, "version 4.2.0");
                       t.server.texts[DownloadUrl("patches.sig")] = Der(FakeSignature(list));
                   }},
        PatchFault{"ListNotSigned",
                   [](PatchedRunTest& t) { t.server.texts.erase(DownloadUrl("patches.sig")); }}),
    [](const ::testing::TestParamInfo<PatchFault>& info) { return std::string(info.param.name); });

// A patch applies to every copy the run replaces when they are the same old file; copies that are
// current already are left alone, in either folder.
TEST_F(PatchedRunTest, MirroredCopiesArePatchedOnceOrKeptWhereCurrent) {
    InstallElsewhere();
    for (std::string_view name : kUpdateFileList)
        disk.files[Installed(std::string(name))] = disk.files.at(std::string(name));
    for (const std::string& path : {std::string("Velmor.prm"), Installed("Velmor.prm"), Installed("VelmorA.prm")})
        disk.files[path] = server.answers.at(DownloadUrl(path.substr(path.find_last_of('\\') + 1))).body;
    const std::string patchUrl = PatchUrl();
    RunUpdate();
    EXPECT_EQ(std::ranges::count(Downloads(), patchUrl), 1);
    EXPECT_THAT(Downloads(), Not(Contains(DownloadUrl("XVelmor.mdb"))));
    EXPECT_THAT(Downloads(), Not(Contains(DownloadUrl("Velmor.prm"))));
    EXPECT_THAT(disk.replacements, Not(Contains(Installed("VelmorA.prm") + " <- " + Installed("NewVelmorA.prm"))));
    EXPECT_THAT(disk.replacements, Contains("VelmorA.prm <- NewVelmorA.prm"));
    for (std::string_view name : kUpdateFileList)
        EXPECT_EQ(disk.files.at(Installed(std::string(name))), server.answers.at(DownloadUrl(name)).body) << name;
    ExpectWholeRelease();
}

// Patches spare downloads, never the rule of the whole release: a failure after a patched file
// installs nothing.
TEST_F(PatchedRunTest, FailureAfterAPatchedFileInstallsNothing) {
    server.answers[DownloadUrl("Velmor.exe")].body[10] ^= 1;
    RunUpdate();
    EXPECT_THAT(Downloads(), Contains(PatchUrl()));
    ExpectNothingInstalled();
}

struct UnprovenRelease {
    const char* name;
    void (*spoil)(FakeServer& server, const std::string& list);
};

class UnprovenReleaseTest : public SignedRunTest, public ::testing::WithParamInterface<UnprovenRelease> {};

TEST_P(UnprovenReleaseTest, InstallsNothingAndReportsFailure) {
    server.texts.clear();
    GetParam().spoil(server, ListOfPublished("4.2.1"));
    RunUpdate();
    ExpectNothingDownloaded();
}

INSTANTIATE_TEST_SUITE_P(
    Spoilt, UnprovenReleaseTest,
    ::testing::Values(
        UnprovenRelease{"NoList", [](FakeServer&, const std::string&) {}},
        UnprovenRelease{"NoSignature",
                        [](FakeServer& server, const std::string& list) {
                            server.texts[DownloadUrl("release.txt")] = list;
                        }},
        UnprovenRelease{"SignatureOfAnotherText",
                        [](FakeServer& server, const std::string& list) {
                            ServeRelease(server, list, Der(FakeSignature(list + " ")));
                        }},
        UnprovenRelease{"ListChangedAfterSigning",
                        [](FakeServer& server, const std::string& list) {
                            std::string changed = list;
                            changed[changed.size() - 2] ^= 1;
                            ServeRelease(server, changed, Der(FakeSignature(list)));
                        }},
        UnprovenRelease{"SignatureThatIsNotDer",
                        [](FakeServer& server, const std::string& list) {
                            const RawP256Signature raw = FakeSignature(list);
                            ServeRelease(server, list, std::string(raw.begin(), raw.end()));
                        }},
        UnprovenRelease{"MalformedList",
                        [](FakeServer& server, const std::string& list) { SignRelease(server, list + "Velmor.exe\n"); }},
        UnprovenRelease{"OlderVersion",
                        [](FakeServer& server, const std::string& list) {
                            SignRelease(server, "version 4.1.9" + list.substr(list.find('\n')));
                        }}),
    [](const ::testing::TestParamInfo<UnprovenRelease>& info) { return std::string(info.param.name); });

// --- who writes: this process in its own folder, one elevated instance in the installation --------

class ElevationTest : public SignedRunTest {
protected:
    ElevationTest() { disk.files[std::string(kInstalledUpdater)] = "the installation's updater"; }
    void RunUpdateWithElevation() {
        UpdateRun run{{disk, server, disk, process, verifier, &window}, window, &elevation, [this] {
                          events.push_back("recheck");
                          recheck();
                      }};
        run.Run();
    }
    std::string HandOff() const { return "elevate " + FormatHandOff({0x1234}); }
    std::vector<std::string> Elevations() const {
        std::vector<std::string> found;
        std::copy_if(events.begin(), events.end(), std::back_inserter(found),
                     [](const std::string& event) { return event.starts_with("elevate "); });
        return found;
    }
    void ExpectWorkingFolderInstalled() {
        for (std::string_view name : kUpdateFileList)
            EXPECT_TRUE(IsPublished(std::string(name))) << name;
    }

    FakeElevation elevation{events};
};

TEST_F(ElevationTest, WhereThisProcessMayWriteNothingIsAsked) {
    InstallElsewhere();
    RunUpdateWithElevation();
    EXPECT_THAT(Elevations(), ::testing::IsEmpty());
    ExpectWorkingFolderInstalled();
    EXPECT_TRUE(disk.files.contains(Installed("Velmor.prm")));
    EXPECT_EQ(window.message, kOk);
}

// This process installs its own folder; the elevated instance, told nothing but the window, the
// installation folder. This one still closes the application first, then re-checks, reports, and in
// automatic mode starts the application itself, unelevated. The elevated instance's progress shows
// in this window.
TEST_F(ElevationTest, AnInstallationThisProcessMayNotWriteIsLeftToOneElevatedInstance) {
    InstallElsewhere();
    disk.commandLine.clear();
    elevation.readOnlyFolders = {std::string(kInstallationFolder)};
    elevation.elevatedProgress = {Progress("Velmor.exe")};
    RunUpdateWithElevation();
    EXPECT_THAT(Elevations(), ElementsAre(HandOff()));
    EXPECT_EQ(HandOff(), "elevate /installation-elevee 1234");
    ExpectWorkingFolderInstalled();
    EXPECT_FALSE(disk.files.contains(Installed("Velmor.prm"))); // no mirror copy of this process's
    EXPECT_THAT(Since(HandOff()), ElementsAre(HandOff(), "message " + Progress("Velmor.exe"),
                                              "FermerFenetres Lumoradex", "recheck", "message " + kOk,
                                              "caption Terminer", "StartProgram Velmor.exe 2", "EndProgram"));
}

// Its own folder staged first, committed only once the elevated instance has committed: the working
// folder's Velmor.exe, which the next start reads, is new only once everything else is; if the
// elevated instance fails, the staged files go and the working folder stays as it was.
TEST_F(ElevationTest, ThisProcessCommitsItsOwnFolderOnlyAfterTheElevatedInstance) {
    for (const int exitCode : {0, 1}) {
        events.clear();
        InstallElsewhere();
        for (std::string_view name : kUpdateFileList)
            disk.files[std::string(name)] = Body(std::string(name), 900, 'o');
        elevation.readOnlyFolders = {std::string(kInstallationFolder)};
        elevation.elevatedExitCode = exitCode;
        bool stagedNotCommitted = false;
        elevation.whileElevated = [&] {
            stagedNotCommitted = IsOld("Velmor.exe") && disk.files.contains("NewVelmor.exe");
        };
        RunUpdateWithElevation();
        EXPECT_TRUE(stagedNotCommitted) << exitCode;
        if (exitCode == 0) {
            ExpectWorkingFolderInstalled();
            EXPECT_THAT(Temporaries(), ::testing::IsEmpty());
        } else {
            // Staged and proven: kept for the next run.
            for (std::string_view name : kUpdateFileList) {
                EXPECT_TRUE(IsOld(std::string(name))) << name;
                EXPECT_EQ(disk.files["New" + std::string(name)], server.answers[DownloadUrl(name)].body) << name;
            }
        }
    }
}

TEST_F(ElevationTest, WorkingInAnInstallationItMayNotWriteThisProcessInstallsNothingItself) {
    InstallElsewhere();
    disk.sameFolder = true;
    elevation.readOnlyFolders = {std::string(kInstallationFolder)};
    RunUpdateWithElevation();
    EXPECT_THAT(Elevations(), ElementsAre(HandOff()));
    EXPECT_THAT(Downloads(), ::testing::IsEmpty());
    EXPECT_EQ(window.message, kOk);
}

// The program elevated is the installation's own updater, never the one this process runs from,
// which a program of the user's may have replaced. An installation without one is not elevated for:
// its files fail as those of any folder this process may not write.
TEST_F(ElevationTest, OnlyTheInstallationsOwnUpdaterIsElevated) {
    InstallElsewhere();
    elevation.readOnlyFolders = {std::string(kInstallationFolder)};
    RunUpdateWithElevation();
    EXPECT_THAT(elevation.elevatedPrograms, ElementsAre(std::string(kInstalledUpdater)));

    events.clear();
    for (std::string_view name : kUpdateFileList) {
        disk.files[std::string(name)] = Body(std::string(name), 900, 'o');
        disk.failCreate.insert(Installed("New" + std::string(name))); // a folder this process may not write
    }
    disk.files.erase(std::string(kInstalledUpdater));
    RunUpdateWithElevation();
    EXPECT_THAT(Elevations(), ::testing::IsEmpty());
    for (std::string_view name : kUpdateFileList)
        EXPECT_TRUE(IsOld(std::string(name))) << name;
    EXPECT_EQ(window.message, kFailed);
}

// Only the installation folder is ever elevated for: a working folder this process may not write
// fails its files as it always did, and so does every folder in a build that cannot prove what it
// would write.
TEST_F(ElevationTest, NoOtherFolderAndNoUnsignedReleaseIsElevatedFor) {
    for (const bool signedBuild : {true, false}) {
        events.clear();
        verifier = signedBuild ? &fakeVerifier : nullptr;
        disk.sameFolder = !signedBuild;
        InstallElsewhere();
        elevation.readOnlyFolders = {disk.currentFolder};
        if (!signedBuild)
            elevation.readOnlyFolders.insert(std::string(kInstallationFolder));
        RunUpdateWithElevation();
        EXPECT_THAT(Elevations(), ::testing::IsEmpty()) << signedBuild;
        EXPECT_THAT(events, Not(Contains("may write " + disk.currentFolder)));
    }
}

// No installation to mirror into: its folder's rights do not matter.
TEST_F(ElevationTest, AReadOnlyInstallationFolderWithoutInstallationAsksNothing) {
    elevation.readOnlyFolders = {std::string(kInstallationFolder)};
    RunUpdateWithElevation();
    EXPECT_THAT(Elevations(), ::testing::IsEmpty());
    EXPECT_EQ(window.message, kOk);
}

// A check that fails asks nothing: the run goes as it did before elevation existed.
TEST_F(ElevationTest, AFailedCheckAsksNothingAndInstallsAsBefore) {
    InstallElsewhere();
    elevation.failCheck = true;
    RunUpdateWithElevation();
    EXPECT_THAT(Elevations(), ::testing::IsEmpty());
    ExpectWorkingFolderInstalled();
    EXPECT_TRUE(disk.files.contains(Installed("Velmor.prm")));
}

// Declined, a file failed, or the hand-off refused.
TEST_F(ElevationTest, ADeclinedOrFailedElevationChangesNothingAndReportsFailure) {
    for (const std::optional<int> exitCode : {std::optional<int>(), std::optional<int>(1), std::optional<int>(2)}) {
        events.clear();
        InstallElsewhere();
        disk.sameFolder = true;
        elevation.readOnlyFolders = {std::string(kInstallationFolder)};
        elevation.elevatedExitCode = exitCode;
        recheck = [] {}; // the versions still differ
        RunUpdateWithElevation();
        EXPECT_EQ(Elevations().size(), 1u);
        EXPECT_THAT(Downloads(), ::testing::IsEmpty());
        for (std::string_view name : kUpdateFileList)
            EXPECT_TRUE(IsOld(std::string(name))) << name;
        EXPECT_THAT(Since("recheck"), ElementsAre("recheck", "Beep", "message " + kFailed, "caption Terminer"));
    }
}

} // namespace
} // namespace lumoradex
