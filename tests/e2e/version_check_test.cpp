// The start-up version check as a user and the update server see it: the verdict, its message and
// the window in both modes, the version page's variants, a server that is gone or stalls, and the
// folder the program works in.

#include <gtest/gtest.h>

#include "tests/e2e/e2e.h"

namespace lumoradex::e2e {
namespace {

constexpr char kImpossible[] = "Impossible de contr\xC3\xB4ler les versions";
constexpr char kUpdate[] = "Des mises \xC3\xA0 jour sont disponibles";
constexpr char kUpToDate[] = "Pas de mise \xC3\xA0 jour n\xC3\xA9"
                             "cessaire";
constexpr char kRemindLater[] = "Me le rappeler plus tard";

std::string TextOf(const ControlReport* control) {
    return control != nullptr ? control->text : "<absent>";
}

bool IsVerdict(const std::string& message) {
    return message == kImpossible || message == kUpdate || message == kUpToDate;
}

// The updater started with an argument, once its window shows a verdict.
struct InteractiveRun {
    WineProgram* updater = nullptr;
    WindowReport window;
    std::string vLocale;
    std::string vSite;
    std::string message;
};

// The inspector reads the controls one message at a time, and a handler still running answers
// some of them (while it flushes its messages): a report counts once the next one says the same.
bool SameState(const WindowReport& a, const WindowReport& b) {
    const UpdaterItems x = UpdaterItems::Of(a);
    const UpdaterItems y = UpdaterItems::Of(b);
    return a.topmost == b.topmost && a.visible == b.visible && TextOf(x.vLocale) == TextOf(y.vLocale) &&
           TextOf(x.vSite) == TextOf(y.vSite) && TextOf(x.message) == TextOf(y.message) &&
           TextOf(x.action) == TextOf(y.action) &&
           (x.miseAJour && x.miseAJour->visible) == (y.miseAJour && y.miseAJour->visible);
}

InteractiveRun RunInteractive(Scenario& scenario, std::string_view workingFolder,
                              std::chrono::milliseconds timeout = 20s) {
    InteractiveRun run;
    run.updater = &scenario.StartInteractive(workingFolder);
    std::optional<WindowReport> previous;
    std::optional<WindowReport> window;
    const bool decided = WaitUntil(
        [&] {
            previous = std::move(window);
            window = scenario.Inspect();
            return window && previous && IsVerdict(TextOf(UpdaterItems::Of(*window).message)) &&
                   SameState(*previous, *window);
        },
        timeout, 200ms);
    EXPECT_TRUE(decided) << (window ? window->raw : "no window") << run.updater->Output();
    if (window) {
        run.window = *window;
        const UpdaterItems items = UpdaterItems::Of(run.window);
        run.vLocale = TextOf(items.vLocale);
        run.vSite = TextOf(items.vSite);
        run.message = TextOf(items.message);
    }
    return run;
}

// The updater started without argument, watched until it ends by itself.
VisibilityWatch RunAutomatic(Scenario& scenario, std::string_view workingFolder) {
    WineProgram& updater = scenario.StartAutomatic(workingFolder);
    const VisibilityWatch watch = scenario.WatchWhileRunning(updater, kUpdaterTitle, 15s);
    EXPECT_TRUE(watch.ended) << "still running after 15 s" << updater.Output();
    EXPECT_EQ(watch.exitCode, 0) << updater.Output();
    return watch;
}

void ExpectUpdateOffered(const WindowReport& window) {
    const UpdaterItems items = UpdaterItems::Of(window);
    EXPECT_EQ(TextOf(items.message), kUpdate);
    EXPECT_TRUE(window.visible);
    EXPECT_TRUE(window.topmost);
    ASSERT_NE(items.miseAJour, nullptr) << window.raw;
    EXPECT_TRUE(items.miseAJour->visible);
    EXPECT_EQ(TextOf(items.action), kRemindLater);
}

void ExpectOpenWithoutOffer(const WindowReport& window) {
    const UpdaterItems items = UpdaterItems::Of(window);
    EXPECT_TRUE(window.visible);
    EXPECT_FALSE(window.topmost);
    ASSERT_NE(items.miseAJour, nullptr) << window.raw;
    EXPECT_TRUE(items.miseAJour->visible);
    EXPECT_NE(TextOf(items.action), kRemindLater);
}

class VersionCheck : public ::testing::Test {
protected:
    // The window of an updater ended by the previous test can outlive its process for a moment on a
    // busy machine: no verdict may be read from it.
    VersionCheck() {
        EXPECT_TRUE(WaitUntil([&] { return !scenario.Inspect(); }, 10s)) << "an earlier updater window remains";
    }

    // The application installed in the standard folder, where the program is started.
    void Install(std::string_view version) { scenario.PlaceVelmor(version, kInstallFolder); }

    Scenario scenario;
};

// Every mode and verdict.

TEST_F(VersionCheck, AutomaticImpossibleEndsWithoutShowingAnything) {
    Install("noversion");
    scenario.Server().SetVersionPage("4.2.1");
    EXPECT_FALSE(RunAutomatic(scenario, kInstallFolder).everVisible);
    EXPECT_EQ(scenario.Server().RequestCount("/version.htm"), 1);
}

TEST_F(VersionCheck, AutomaticUpToDateEndsWithoutShowingAnything) {
    Install("4.2.0.1");
    scenario.Server().SetVersionPage("4.2.1");
    EXPECT_FALSE(RunAutomatic(scenario, kInstallFolder).everVisible);
    EXPECT_EQ(scenario.Server().RequestCount("/version.htm"), 1);
}

TEST_F(VersionCheck, AutomaticUpdateAvailableShowsTheWindowTopMost) {
    Install("4.2.0.0");
    scenario.Server().SetVersionPage("4.2.1");
    WineProgram& updater = scenario.StartAutomatic(kInstallFolder);
    std::optional<WindowReport> window = scenario.WaitForWindow(kUpdaterTitle, 20s);
    ASSERT_TRUE(window) << updater.Output();
    ExpectUpdateOffered(*window);
    EXPECT_EQ(TextOf(UpdaterItems::Of(*window).vLocale), "4.2.0");
    EXPECT_EQ(TextOf(UpdaterItems::Of(*window).vSite), "4.2.1");
    EXPECT_TRUE(updater.Running());
}

TEST_F(VersionCheck, InteractiveImpossibleKeepsTheWindowOpen) {
    Install("noversion");
    scenario.Server().SetVersionPage("4.2.1");
    const InteractiveRun run = RunInteractive(scenario, kInstallFolder);
    EXPECT_EQ(run.message, kImpossible);
    EXPECT_EQ(run.vLocale, "0.0.0") << run.window.raw;
    ExpectOpenWithoutOffer(run.window);
    EXPECT_TRUE(run.updater->Running());
}

TEST_F(VersionCheck, InteractiveUpToDateKeepsTheWindowOpen) {
    Install("4.2.0.1");
    scenario.Server().SetVersionPage("4.2.1");
    const InteractiveRun run = RunInteractive(scenario, kInstallFolder);
    EXPECT_EQ(run.message, kUpToDate);
    EXPECT_EQ(run.vLocale, "4.2.1") << run.window.raw;
    EXPECT_EQ(run.vSite, "4.2.1");
    ExpectOpenWithoutOffer(run.window);
    EXPECT_TRUE(run.updater->Running());
}

TEST_F(VersionCheck, InteractiveUpdateAvailableShowsTheWindowTopMost) {
    Install("4.2.0.0");
    scenario.Server().SetVersionPage("4.2.1");
    const InteractiveRun run = RunInteractive(scenario, kInstallFolder);
    ExpectUpdateOffered(run.window);
}

// While the fetch blocks, the window answers no message: only what it painted before shows.
TEST_F(VersionCheck, InteractiveWindowPaintsItsProgressBeforeTheFetch) {
    Install("4.2.0.0");
    scenario.Server().Set("/version.htm", Reply::Page(VersionPage("4.2.1")).Delayed(6s));
    WineProgram& updater = scenario.StartInteractive(kInstallFolder, "x");
    ASSERT_TRUE(scenario.Server().WaitForRequests("/version.htm", 1, 20s)) << updater.Output();
    std::optional<WindowReport> window = scenario.WaitForWindow(kUpdaterTitle, 2s);
    ASSERT_TRUE(window) << updater.Output();
    EXPECT_FALSE(window->responding);
    const ControlReport* message = UpdaterItems::Of(*window).message;
    ASSERT_NE(message, nullptr) << window->raw;
    // A control not painted yet is black on Xvfb: the box must show its text on its white background.
    Rect inside = window->ScreenRect(message->rect);
    inside = Rect{inside.left + 2, inside.top + 2, inside.width - 4, inside.height - 4};
    const Image screen = scenario.Display().CaptureScreen();
    auto isWhite = [](const Rgb& colour) { return colour.red > 240 && colour.green > 240 && colour.blue > 240; };
    const int backgroundPixels = screen.CountInScreenRect(inside, isWhite);
    const int textPixels = inside.width * inside.height - backgroundPixels;
    EXPECT_GT(textPixels, 30) << "no progress message painted";
    EXPECT_GT(backgroundPixels, inside.width * inside.height / 2) << "the message box is not painted";
    EXPECT_TRUE(WaitUntil(
        [&] {
            window = scenario.Inspect();
            return window && TextOf(UpdaterItems::Of(*window).message) == kUpdate;
        },
        20s, 200ms));
}

TEST_F(VersionCheck, InstalledVersionNewerThanThePublishedOne) {
    Install("4.3.0.0");
    scenario.Server().SetVersionPage("4.2.1");
    EXPECT_EQ(RunInteractive(scenario, kInstallFolder).message, kUpToDate);
}

// A server that is gone, refuses, or never answers.

TEST_F(VersionCheck, NoServerAtAllEndsAutomaticModeAtOnce) {
    Install("4.2.0.0");
    EXPECT_FALSE(RunAutomatic(scenario, kInstallFolder).everVisible);
}

TEST_F(VersionCheck, NoServerAtAllInInteractiveModeLeavesThePublishedVersionEmpty) {
    Install("4.2.0.0");
    const InteractiveRun run = RunInteractive(scenario, kInstallFolder);
    EXPECT_EQ(run.message, kImpossible);
    EXPECT_EQ(run.vSite, "");
}

TEST_F(VersionCheck, AnErrorStatusIsNotTheVersionPage) {
    Install("4.2.0.0");
    scenario.Server().Set("/version.htm", Reply::Status(404, VersionPage("4.2.1")));
    const InteractiveRun run = RunInteractive(scenario, kInstallFolder);
    EXPECT_EQ(run.message, kImpossible);
    EXPECT_EQ(run.vSite, "");
}

// The tests that wait the whole request time-out of 60 s: a server that never answers, or one that
// drips its headers a byte every 5 s (ten minutes for them all), ends as an impossible check once the
// time-out has passed, on the program's own clock.
class HeadersThatNeverCome : public VersionCheck, public ::testing::WithParamInterface<bool> {};

TEST_P(HeadersThatNeverCome, EndAsImpossibleAfterTheTimeOut) {
    Install("4.2.0.0");
    scenario.Server().Set("/version.htm",
                          GetParam() ? Reply::DrippedHeaders(VersionPage("4.2.1"), 5s) : Reply::Stall());
    const auto start = std::chrono::steady_clock::now();
    WineProgram& updater = scenario.StartInteractive(kInstallFolder, "x");
    ASSERT_TRUE(scenario.Server().WaitForRequests("/version.htm", 1, 20s)) << updater.Output();
    std::optional<WindowReport> window = scenario.WaitForWindow(kUpdaterTitle, 5s);
    ASSERT_TRUE(window);
    EXPECT_FALSE(window->responding) << "the fetch should block the window";
    EXPECT_TRUE(WaitUntil(
        [&] {
            window = scenario.Inspect();
            return window && TextOf(UpdaterItems::Of(*window).message) == kImpossible;
        },
        std::chrono::duration_cast<std::chrono::milliseconds>(start + 75s - std::chrono::steady_clock::now()), 500ms))
        << (window ? window->raw : "no window");
    EXPECT_TRUE(updater.Running());
}

INSTANTIATE_TEST_SUITE_P(SilentOrDripping, HeadersThatNeverCome, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& dripping) {
                             return dripping.param ? "HeadersDripped" : "NoAnswer";
                         });

// A page of 768 MiB, the real page followed by padding, whether the server announces its length or
// sends it in chunks, or header lines without end: the updater reads no more than its limit, keeps
// no more than a bounded part of the headers, and the check is impossible.
enum class HostilePage { LengthAnnounced, Chunked, EndlessHeaderLines };

class HostileVersionPage : public VersionCheck, public ::testing::WithParamInterface<HostilePage> {};

TEST_P(HostileVersionPage, IsAFailedFetchThatLeavesTheMemoryAlone) {
    Install("4.2.0.0");
    Reply page = Reply::Padded(VersionPage("4.2.1"), std::size_t{768} << 20);
    page.chunked = GetParam() == HostilePage::Chunked;
    scenario.Server().Set("/version.htm",
                          GetParam() == HostilePage::EndlessHeaderLines ? Reply::EndlessHeaderLines() : page);
    const InteractiveRun run = RunInteractive(scenario, kInstallFolder);
    EXPECT_EQ(run.message, kImpossible);
    EXPECT_EQ(run.vSite, "");
    const std::optional<std::size_t> peakKiB = PeakResidentKiB(run.updater->LinuxPid());
    ASSERT_TRUE(peakKiB);
    RecordProperty("peak_resident_kib", std::to_string(*peakKiB));
    // About 24 MiB at rest; header lines are given up once they have grown the process by 16 MiB.
    EXPECT_LT(*peakKiB, 56u * 1024);
    // The rest of the page may still be coming in: Terminer ends the program all the same.
    const ControlReport* action = UpdaterItems::Of(run.window).action;
    ASSERT_NE(action, nullptr);
    scenario.Display().Click(run.window.ScreenX(action->rect.CenterX()), run.window.ScreenY(action->rect.CenterY()));
    EXPECT_EQ(run.updater->WaitForExit(20s), 0);
}

INSTANTIATE_TEST_SUITE_P(Hostile, HostileVersionPage,
                         ::testing::Values(HostilePage::LengthAnnounced, HostilePage::Chunked,
                                           HostilePage::EndlessHeaderLines),
                         [](const ::testing::TestParamInfo<HostilePage>& page) {
                             switch (page.param) {
                             case HostilePage::LengthAnnounced:
                                 return "LengthAnnounced";
                             case HostilePage::Chunked:
                                 return "Chunked";
                             case HostilePage::EndlessHeaderLines:
                                 return "EndlessHeaderLines";
                             }
                             return "";
                         });

// The version page's variants.

TEST_F(VersionCheck, PageWithoutMarkerShowsItsCharactersElevenToFifteen) {
    Install("4.2.0.0");
    scenario.Server().Set("/version.htm", Reply::Page("<html><body>4.2.1</body></html>"));
    const InteractiveRun run = RunInteractive(scenario, kInstallFolder);
    EXPECT_EQ(run.message, kImpossible);
    EXPECT_EQ(run.vSite, "y>4.2");
}

TEST_F(VersionCheck, MarkerOnlyInLowerCaseIsNoMarker) {
    Install("4.2.0.0");
    scenario.Server().Set("/version.htm", Reply::Page("<p>lumoradex v4.2.1</p>"));
    EXPECT_EQ(RunInteractive(scenario, kInstallFolder).message, kImpossible);
}

TEST_F(VersionCheck, TheFirstOfTwoMarkersDecides) {
    Install("4.2.0.1");
    scenario.Server().Set("/version.htm", Reply::Page("<p>Lumoradex V4.2.1</p><p>Lumoradex V4.3.0</p>"));
    const InteractiveRun run = RunInteractive(scenario, kInstallFolder);
    EXPECT_EQ(run.vSite, "4.2.1");
    EXPECT_EQ(run.message, kUpToDate);
}

TEST_F(VersionCheck, PageEndingWithAShortVersion) {
    Install("4.2.0.1");
    scenario.Server().Set("/version.htm", Reply::Page("Lumoradex V4.2"));
    const InteractiveRun run = RunInteractive(scenario, kInstallFolder);
    EXPECT_EQ(run.vSite, "4.2");
    EXPECT_EQ(run.message, kUpToDate);
}

TEST_F(VersionCheck, PublishedVersionReadingAsZeroIsImpossible) {
    Install("4.2.0.0");
    scenario.Server().SetVersionPage("0.0.1");
    EXPECT_EQ(RunInteractive(scenario, kInstallFolder).message, kImpossible);
}

TEST_F(VersionCheck, PartsOfTwoDigitsCompareAsNumbers) {
    Install("4.9.0.3");
    scenario.Server().SetVersionPage("4.10.2");
    const InteractiveRun run = RunInteractive(scenario, kInstallFolder);
    EXPECT_EQ(run.vLocale, "4.9.3") << run.window.raw;
    EXPECT_EQ(run.vSite, "4.10.2");
    ExpectUpdateOffered(run.window);
}

// The folder the program works in, seen through the installed version it reads there.

TEST_F(VersionCheck, FolderOnDriveCHoldingTheApplicationStays) {
    Install("4.2.0.1");
    scenario.PlaceVelmor("4.2.0.0", "C:\\e2e\\app");
    scenario.Server().SetVersionPage("4.2.1");
    const InteractiveRun run = RunInteractive(scenario, "C:\\e2e\\app");
    EXPECT_EQ(run.vLocale, "4.2.0") << run.window.raw;
    EXPECT_EQ(run.message, kUpdate);
}

TEST_F(VersionCheck, HiddenApplicationDoesNotHoldTheFolder) {
    Install("4.2.0.1");
    scenario.PlaceVelmor("4.2.0.0", "C:\\e2e\\app");
    scenario.SetAttributes("C:\\e2e\\app\\Velmor.exe", "+h");
    scenario.Server().SetVersionPage("4.2.1");
    const InteractiveRun run = RunInteractive(scenario, "C:\\e2e\\app");
    EXPECT_EQ(run.vLocale, "4.2.1") << run.window.raw;
}

TEST_F(VersionCheck, FolderOnAnotherDriveGivesWayToTheStandardInstallation) {
    Install("4.2.0.1");
    scenario.PlaceVelmor("4.2.0.0", "D:\\Lumoradex");
    scenario.Server().SetVersionPage("4.2.1");
    const InteractiveRun run = RunInteractive(scenario, "D:\\Lumoradex");
    EXPECT_EQ(run.vLocale, "4.2.1") << run.window.raw;
    EXPECT_EQ(run.message, kUpToDate);
}

TEST_F(VersionCheck, FolderOnAnotherDriveWithoutStandardInstallationStays) {
    scenario.PlaceVelmor("4.2.0.0", "D:\\Lumoradex");
    scenario.Server().SetVersionPage("4.2.1");
    const InteractiveRun run = RunInteractive(scenario, "D:\\Lumoradex");
    EXPECT_EQ(run.vLocale, "4.2.0") << run.window.raw;
    EXPECT_EQ(run.message, kUpdate);
}

TEST_F(VersionCheck, FolderWithoutTheApplicationGivesWayToTheInstallation) {
    Install("4.2.0.1");
    scenario.CreateFolder("C:\\e2e\\empty");
    scenario.Server().SetVersionPage("4.2.1");
    const InteractiveRun run = RunInteractive(scenario, "C:\\e2e\\empty");
    EXPECT_EQ(run.vLocale, "4.2.1") << run.window.raw;
}

TEST_F(VersionCheck, WithoutApplicationAnywhereTheCheckIsImpossible) {
    scenario.CreateFolder("D:\\empty");
    scenario.Server().SetVersionPage("4.2.1");
    const InteractiveRun run = RunInteractive(scenario, "D:\\empty");
    EXPECT_EQ(run.vLocale, "0.0.0") << run.window.raw;
    EXPECT_EQ(run.message, kImpossible);
}

} // namespace
} // namespace lumoradex::e2e
