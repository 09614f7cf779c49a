#include "updater/check/load_handler.h"

#include <gtest/gtest.h>

#include "tests/unit/fakes/check_view.h"
#include "tests/unit/fakes/disk.h"
#include "tests/unit/fakes/server.h"
#include "updater/release/server_addresses.h"

namespace lumoradex {
namespace {

using fakes::FakeCheckView;
using fakes::FakeDisk;
using fakes::FakeServer;

constexpr char kInstallationFolder[] = "C:\\Program Files\\LumoradexV4";
constexpr char kChecking[] = "Veuillez patienter, vérifications en cours";
constexpr char kImpossible[] = "Impossible de contrôler les versions";
constexpr char kUpdate[] = "Des mises à jour sont disponibles";
constexpr char kUpToDate[] = "Pas de mise à jour nécessaire";
constexpr char kRemindLater[] = "Me le rappeler plus tard";

std::string Page(const std::string& version) {
    return "<html><body><p>Lumoradex V" + version + "</p></body></html>";
}

class LoadHandlerTest : public ::testing::Test {
protected:
    LoadHandlerTest() { environment.StartIn("C:\\Lumoradex", "4.2.0"); }

    // The version page this run fetches; nothing: the fetch fails.
    void RunWith(const std::optional<std::string>& page) {
        if (page)
            server.texts[VersionPageUrl()] = *page;
        else
            server.texts.erase(VersionPageUrl());
        handler.Run();
    }

    void ExpectClosedWithoutShowing(const char* message) {
        EXPECT_EQ(window.message, message);
        EXPECT_TRUE(window.closed);
        EXPECT_FALSE(window.visible);
        EXPECT_FALSE(window.topMost);
    }

    void ExpectOpenAndUnchanged(const char* message) {
        EXPECT_EQ(window.message, message);
        EXPECT_FALSE(window.closed);
        EXPECT_TRUE(window.visible);
        EXPECT_FALSE(window.topMost);
        EXPECT_EQ(window.actionCaption, "Fermer");
        EXPECT_EQ(window.calls, (std::vector<std::string>{"Show", "SetMessage", "FlushMessages", "SetVLocale",
                                                          "SetVSite", "SetMessage"}));
    }

    void ExpectUpdateOffered() {
        EXPECT_EQ(window.message, kUpdate);
        EXPECT_FALSE(window.closed);
        EXPECT_TRUE(window.visible);
        EXPECT_TRUE(window.topMost);
        EXPECT_TRUE(window.miseAJourVisible);
        EXPECT_EQ(window.actionCaption, kRemindLater);
    }

    FakeCheckView window;
    FakeDisk environment;
    std::vector<std::string> events;
    FakeServer server{events};
    LoadHandler handler{window, environment, server};
};

// The outcomes of one run, by mode and verdict.

TEST_F(LoadHandlerTest, AutomaticCheckImpossibleClosesTheNeverShownWindow) {
    RunWith(std::nullopt);
    ExpectClosedWithoutShowing(kImpossible);
}

TEST_F(LoadHandlerTest, AutomaticNoUpdateNeededClosesTheNeverShownWindow) {
    RunWith(Page("4.2.0"));
    ExpectClosedWithoutShowing(kUpToDate);
}

TEST_F(LoadHandlerTest, AutomaticUpdateAvailableShowsTheWindowTopMost) {
    RunWith(Page("4.2.1"));
    ExpectUpdateOffered();
    EXPECT_EQ(window.vLocale, "4.2.0");
    EXPECT_EQ(window.vSite, "4.2.1");
    EXPECT_EQ(window.calls, (std::vector<std::string>{"SetVLocale", "SetVSite", "SetMessage", "SetMiseAJourVisible",
                                                      "SetActionCaption", "MakeTopMost", "Show"}));
}

TEST_F(LoadHandlerTest, InteractiveCheckImpossibleKeepsTheWindowOpen) {
    environment.commandLine = "x";
    RunWith(std::nullopt);
    ExpectOpenAndUnchanged(kImpossible);
}

TEST_F(LoadHandlerTest, InteractiveNoUpdateNeededKeepsTheWindowOpen) {
    environment.commandLine = "/interactif";
    RunWith(Page("4.2.0"));
    ExpectOpenAndUnchanged(kUpToDate);
}

TEST_F(LoadHandlerTest, InteractiveUpdateAvailableShowsTheWindowTopMost) {
    environment.commandLine = "x";
    RunWith(Page("4.2.1"));
    ExpectUpdateOffered();
}

TEST_F(LoadHandlerTest, InteractiveWindowPaintsItsProgressMessageBeforeTheBlockingSteps) {
    environment.commandLine = "x";
    std::vector<std::string> callsAtFetch;
    server.onFetch[VersionPageUrl()] = [&] { callsAtFetch = window.calls; };
    RunWith(Page("4.2.1"));
    EXPECT_EQ(window.messageWhenFlushed, kChecking);
    EXPECT_TRUE(window.visibleWhenFlushed);
    EXPECT_EQ(callsAtFetch, (std::vector<std::string>{"Show", "SetMessage", "FlushMessages", "SetVLocale"}));
    EXPECT_EQ(events, (std::vector<std::string>{"fetch " + VersionPageUrl()}));
    EXPECT_EQ(server.fetchLimits, (std::vector<std::size_t>{1024 * 1024}));
}

// The verdict for each reason that makes the check impossible.

TEST_F(LoadHandlerTest, InstalledVersionUnreadable) {
    environment.versions.clear();
    RunWith(Page("4.2.1"));
    EXPECT_EQ(window.vLocale, "0.0.0");
    ExpectClosedWithoutShowing(kImpossible);
}

TEST_F(LoadHandlerTest, PublishedVersionZeroPointZeroPointZero) {
    RunWith(Page("0.0.0"));
    ExpectClosedWithoutShowing(kImpossible);
}

TEST_F(LoadHandlerTest, InstalledVersionBlank) {
    environment.versions["C:\\Lumoradex\\Velmor.exe"] = "  ";
    RunWith(Page("4.2.1"));
    ExpectClosedWithoutShowing(kImpossible);
}

TEST_F(LoadHandlerTest, PublishedVersionEmpty) {
    RunWith("Lumoradex V</p>");
    EXPECT_EQ(window.vSite, "");
    ExpectClosedWithoutShowing(kImpossible);
}

TEST_F(LoadHandlerTest, PublishedVersionReadingAsZero) {
    RunWith(Page("0.0.1"));
    EXPECT_EQ(window.vSite, "0.0.1");
    ExpectClosedWithoutShowing(kImpossible);
}

TEST_F(LoadHandlerTest, PublishedVersionTooLargeToRead) {
    RunWith(Page(std::string(400, '9')));
    ExpectClosedWithoutShowing(kImpossible);
}

TEST_F(LoadHandlerTest, PageWithoutMarkerShowsCharactersElevenToFifteen) {
    environment.commandLine = "x";
    RunWith("<html><body>4.2.1</body></html>");
    EXPECT_EQ(window.vSite, "y>4.2");
    EXPECT_EQ(window.message, kImpossible);
}

TEST_F(LoadHandlerTest, MarkerInOtherLetterCaseIsNoMarker) {
    RunWith("<p>lumoradex v4.2.1</p>");
    ExpectClosedWithoutShowing(kImpossible);
}

TEST_F(LoadHandlerTest, FirstFetchFailingLeavesThePublishedVersionEmpty) {
    RunWith(std::nullopt);
    EXPECT_EQ(window.vSite, "");
}

// The comparison, including the published versions of more than one digit per part.

TEST_F(LoadHandlerTest, InstalledVersionNewerThanThePublishedOne) {
    environment.versions["C:\\Lumoradex\\Velmor.exe"] = "4.3.0";
    RunWith(Page("4.2.1"));
    ExpectClosedWithoutShowing(kUpToDate);
}

TEST_F(LoadHandlerTest, FirstMarkerDecides) {
    RunWith("Lumoradex V4.2.0 puis Lumoradex V4.2.1");
    EXPECT_EQ(window.vSite, "4.2.0");
    ExpectClosedWithoutShowing(kUpToDate);
}

TEST_F(LoadHandlerTest, PageEndingWithAShortVersion) {
    environment.versions["C:\\Lumoradex\\Velmor.exe"] = "4.2.1";
    RunWith("Lumoradex V4.2");
    EXPECT_EQ(window.vSite, "4.2");
    ExpectClosedWithoutShowing(kUpToDate);
}

TEST_F(LoadHandlerTest, PartsOfTwoDigitsCompareAsNumbers) {
    environment.versions["C:\\Lumoradex\\Velmor.exe"] = "4.9.3";
    RunWith(Page("4.10.2"));
    EXPECT_EQ(window.vSite, "4.10.2");
    ExpectUpdateOffered();
}

TEST_F(LoadHandlerTest, TrailingFullStopIsNotPartOfThePublishedVersion) {
    RunWith("Nouvelle version : Lumoradex V4.2.0.");
    EXPECT_EQ(window.vSite, "4.2.0");
    ExpectClosedWithoutShowing(kUpToDate);
}

// The working folder.

TEST_F(LoadHandlerTest, FolderOnDriveCHoldingTheApplicationStays) {
    environment.Install("4.9.9");
    RunWith(Page("4.2.1"));
    EXPECT_EQ(environment.currentFolder, "C:\\Lumoradex");
    EXPECT_TRUE(environment.folderChanges.empty());
    EXPECT_EQ(environment.versionQueries, (std::vector<std::string>{"Velmor.exe in C:\\Lumoradex"}));
}

TEST_F(LoadHandlerTest, FolderOnAnotherDriveGivesWayToAStandardInstallation) {
    environment.StartIn("D:\\Lumoradex", "4.2.0");
    environment.Install("4.2.1");
    RunWith(Page("4.2.1"));
    EXPECT_EQ(environment.currentFolder, kInstallationFolder);
    EXPECT_EQ(environment.folderChanges,
              (std::vector<std::string>{std::string("folder ") + kInstallationFolder, "drive C:"}));
    EXPECT_EQ(window.vLocale, "4.2.1");
}

TEST_F(LoadHandlerTest, LowerCaseDriveLetterCountsAsAnotherDrive) {
    environment.StartIn("c:\\Lumoradex", "4.2.0");
    environment.Install("4.2.1");
    RunWith(Page("4.2.1"));
    EXPECT_EQ(environment.currentFolder, kInstallationFolder);
}

TEST_F(LoadHandlerTest, FolderOnAnotherDriveWithoutStandardInstallationStays) {
    environment.StartIn("D:\\Lumoradex", "4.2.0");
    RunWith(Page("4.2.1"));
    EXPECT_EQ(environment.currentFolder, "D:\\Lumoradex");
    EXPECT_TRUE(environment.folderChanges.empty());
    EXPECT_EQ(window.vLocale, "4.2.0");
}

TEST_F(LoadHandlerTest, FolderWithoutTheApplicationGivesWayToTheInstallationFolder) {
    environment.Install("4.2.1");
    environment.AddFolder("D:\\Documents");
    environment.currentFolder = "D:\\Documents";
    RunWith(Page("4.2.1"));
    EXPECT_EQ(environment.currentFolder, kInstallationFolder);
    EXPECT_EQ(window.vLocale, "4.2.1");
}

TEST_F(LoadHandlerTest, MissingInstallationFolderLeavesDriveCsCurrentFolder) {
    environment.AddFolder("D:\\Documents");
    environment.currentFolder = "D:\\Documents";
    RunWith(Page("4.2.1"));
    EXPECT_EQ(environment.folderChanges, (std::vector<std::string>{"drive C:"}));
    EXPECT_EQ(environment.currentFolder, "C:\\Lumoradex");
    EXPECT_EQ(window.vLocale, "4.2.0");
}

TEST_F(LoadHandlerTest, FailingFolderChangeStillChangesTheDrive) {
    environment.StartIn("D:\\Lumoradex", "4.2.0");
    environment.Install("4.2.1");
    environment.failures.Fail(std::string("ChangeFolder ") + kInstallationFolder);
    RunWith(Page("4.2.1"));
    EXPECT_EQ(environment.folderChanges, (std::vector<std::string>{"drive C:"}));
    EXPECT_EQ(environment.currentFolder, "C:\\Lumoradex");
}

TEST_F(LoadHandlerTest, FailingFileTestEntersTheInstallationFolder) {
    environment.Install("4.2.1");
    environment.failures.Fail("OrdinaryFileExists velmor.exe");
    RunWith(Page("4.2.1"));
    EXPECT_EQ(environment.currentFolder, kInstallationFolder);
}

TEST_F(LoadHandlerTest, FailingInstallationTestEntersTheInstallationFolder) {
    environment.Install("4.2.1");
    environment.failures.Fail("OrdinaryFileExists C:\\Program Files\\LumoradexV4\\Velmor.exe");
    RunWith(Page("4.2.1"));
    EXPECT_EQ(environment.currentFolder, kInstallationFolder);
}

TEST_F(LoadHandlerTest, FailingFolderReadEntersTheInstallationFolder) {
    environment.Install("4.2.1");
    environment.failures.Fail("CurrentFolder");
    RunWith(Page("4.2.1"));
    EXPECT_EQ(environment.currentFolder, kInstallationFolder);
}

// Runs after the first: the nested run of an update.

TEST_F(LoadHandlerTest, FailedFetchOfALaterRunReusesTheEarlierPage) {
    RunWith(Page("4.2.1"));
    ASSERT_EQ(window.message, kUpdate);
    environment.versions["C:\\Lumoradex\\Velmor.exe"] = "4.2.1";
    RunWith(std::nullopt);
    EXPECT_EQ(window.vSite, "4.2.1");
    EXPECT_EQ(window.vLocale, "4.2.1");
    EXPECT_EQ(window.message, kUpToDate);
    EXPECT_TRUE(window.closed);
}

TEST_F(LoadHandlerTest, SuccessfulFetchOfALaterRunReplacesThePage) {
    RunWith(Page("4.2.1"));
    RunWith("Lumoradex V4.3.0");
    EXPECT_EQ(window.vSite, "4.3.0");
}

TEST_F(LoadHandlerTest, LaterRunMakesAHiddenUpdateButtonVisibleAgain) {
    window.miseAJourVisible = false;
    environment.commandLine = "x";
    RunWith(Page("4.2.1"));
    EXPECT_TRUE(window.miseAJourVisible);
}

// The failure rule: a failing step is skipped, a failing branch test enters the branch.

TEST_F(LoadHandlerTest, FailingVersionWriteLeavesTheEarlierValue) {
    window.failures.Fail("SetVLocale");
    RunWith(Page("4.2.1"));
    EXPECT_EQ(window.vLocale, "0.0.0");
    ExpectClosedWithoutShowing(kImpossible);
}

TEST_F(LoadHandlerTest, FailingFetchIsSkipped) {
    server.onFetch[VersionPageUrl()] = [] { throw StepFailure("HttpSendRequestW", 12029); };
    RunWith(Page("4.2.1"));
    EXPECT_EQ(window.vSite, "");
    ExpectClosedWithoutShowing(kImpossible);
}

TEST_F(LoadHandlerTest, FailingValidityTestCountsAsImpossible) {
    window.failures.Fail("VSite");
    RunWith(Page("4.2.1"));
    ExpectClosedWithoutShowing(kImpossible);
}

TEST_F(LoadHandlerTest, FailingComparisonOffersTheUpdate) {
    window.failures.FailAfter("VSite", 1);
    RunWith(Page("4.2.0"));
    ExpectUpdateOffered();
}

TEST_F(LoadHandlerTest, FailingStepsOfTheUpdateOfferAreSkipped) {
    window.failures.Fail("SetMessage");
    window.failures.Fail("MakeTopMost");
    RunWith(Page("4.2.1"));
    EXPECT_EQ(window.actionCaption, kRemindLater);
    EXPECT_TRUE(window.visible);
    EXPECT_FALSE(window.topMost);
}

TEST_F(LoadHandlerTest, FailingModeReadEntersBothModesBranches) {
    environment.failures.Fail("CommandLine");
    RunWith(Page("4.2.0"));
    EXPECT_EQ(window.messageWhenFlushed, kChecking);
    EXPECT_EQ(window.message, kUpToDate);
    EXPECT_TRUE(window.closed);
}

} // namespace
} // namespace lumoradex
