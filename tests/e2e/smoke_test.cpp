// The program's two modes as a user first meets them, and the bench's own pieces under Wine: the
// fixture application, the fake browser, the inspector, screenshots and the loopback server.

#include <gtest/gtest.h>

#include "tests/e2e/e2e.h"

namespace lumoradex::e2e {
namespace {

TEST(Smoke, WithAnArgumentTheWindowAppearsVisibleWithItsTitle) {
    Scenario scenario;
    WineProgram& updater = scenario.StartInteractive(kScratchFolder, "x");
    std::optional<WindowReport> window = scenario.WaitForWindow(kUpdaterTitle, 20s);
    ASSERT_TRUE(window) << updater.Output();
    EXPECT_EQ(window->title, kUpdaterTitle);
    EXPECT_TRUE(window->visible);
    EXPECT_EQ(window->clientWidth, 381);
    EXPECT_EQ(window->clientHeight, 157);
    EXPECT_TRUE(updater.Running());
    EXPECT_TRUE(scenario.Display().FindWindow(kUpdaterTitle)) << "no mapped X window bears the title";
}

// Without an argument the program shows nothing: with no server and no installation the check is
// impossible and it ends by itself. Should it not end, it is ended, but it must not have shown a window.
TEST(Smoke, WithoutAnArgumentNothingIsEverShown) {
    Scenario scenario;
    WineProgram& updater = scenario.StartAutomatic(kScratchFolder);
    VisibilityWatch watch = scenario.WatchWhileRunning(updater, kUpdaterTitle, 15s);
    EXPECT_FALSE(watch.everVisible);
    EXPECT_TRUE(watch.ended) << "the updater still ran after 15 s";
    EXPECT_EQ(watch.exitCode, 0) << updater.Output();
    if (!watch.ended)
        updater.Kill();
}

TEST(Smoke, TheUpdaterAsksTheLoopbackServerForTheVersionPage) {
    Scenario scenario;
    scenario.PlaceVelmor("4.2.0.0", kInstallFolder);
    scenario.Server().SetVersionPage("4.2.1");
    WineProgram& updater = scenario.StartInteractive(kInstallFolder);
    EXPECT_TRUE(scenario.Server().WaitForRequests("/version.htm", 1, 20s)) << updater.Output();
    ASSERT_TRUE(scenario.WaitForWindow(kUpdaterTitle, 20s));
    std::optional<WindowReport> window;
    const bool published = WaitUntil(
        [&] {
            window = scenario.Inspect();
            const UpdaterItems items = window ? UpdaterItems::Of(*window) : UpdaterItems{};
            return items.vSite != nullptr && items.vSite->text == "4.2.1";
        },
        20s, 200ms);
    EXPECT_TRUE(published) << (window ? window->raw : "no window");
}

TEST(Bench, TheFixtureApplicationLogsItsStartAndClosesOnRequest) {
    Scenario scenario;
    const std::string velmor = scenario.PlaceVelmor("4.2.0.1", "D:\\Lumoradex");
    WineProgram& application = scenario.Start(velmor, {"--close-delay=300", "un argument"}, kOtherDrive);
    std::optional<WindowReport> window = scenario.WaitForWindow(kApplicationTitle, 20s);
    ASSERT_TRUE(window) << application.Output();
    EXPECT_TRUE(window->visible);

    ASSERT_TRUE(scenario.PostClose(kApplicationTitle));
    ASSERT_TRUE(application.WaitForExit(20s)) << "the fixture did not end after WM_CLOSE";

    const std::vector<Record> log = scenario.VelmorLog("D:\\Lumoradex");
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].kind, "start");
    EXPECT_EQ(log[0].Get("exe"), "D:\\Lumoradex\\Velmor.exe");
    EXPECT_EQ(log[0].Get("folder"), "D:\\");
    EXPECT_NE(log[0].Get("command_line").find("--close-delay=300 \"un argument\""), std::string::npos)
        << log[0].Get("command_line");
    EXPECT_EQ(log[1].kind, "close");
    EXPECT_EQ(log[1].Get("title"), "Lumoradex");
    EXPECT_EQ(log[2].kind, "exit");
    EXPECT_EQ(log[2].Get("reason"), "closed");
}

TEST(Bench, TheFakeBrowserLogsItsCommandLine) {
    Scenario scenario;
    const std::string explorer = scenario.PlaceFakeExplorer(kUpdaterFolder);
    WineProgram& browser = scenario.Start(explorer, {"http://127.0.0.1/support.htm"}, kScratchFolder);
    ASSERT_EQ(browser.WaitForExit(20s), 0);
    const std::vector<Record> log = scenario.ExplorerLog(kUpdaterFolder);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].Get("command_line").find(" http://127.0.0.1/support.htm"), std::string::npos);
    EXPECT_EQ(log[0].Get("folder"), kScratchFolder);
}

TEST(Bench, ScreenshotsShowTheWindowWhereTheInspectorPlacesIt) {
    Scenario scenario;
    scenario.StartInteractive(kScratchFolder);
    std::optional<WindowReport> window = scenario.WaitForWindow(kUpdaterTitle, 20s);
    ASSERT_TRUE(window);
    std::optional<XWindow> xWindow = scenario.Display().FindWindow(kUpdaterTitle);
    ASSERT_TRUE(xWindow);
    EXPECT_EQ(xWindow->geometry, window->frame) << "X and Win32 coordinates differ";
    ASSERT_TRUE(WaitUntil(
        [&] {
            // An empty spot of the client area, right of the picture and above the first label: white.
            return scenario.Display().CaptureScreen().AtScreen(window->ScreenX(120), window->ScreenY(3)) ==
                   Rgb::FromBgr(0xFFFFFF);
        },
        10s, 200ms));
    Image shot = scenario.Display().Capture(*xWindow);
    EXPECT_EQ(shot.Width(), window->frame.width);
    shot.SavePng(scenario.OutputFolder() / "window.png");
    EXPECT_TRUE(std::filesystem::exists(scenario.OutputFolder() / "window.png"));
}

TEST(Bench, EndingAScenarioLeavesNoProgramRunning) {
    {
        Scenario scenario;
        const std::string velmor = scenario.PlaceVelmor("4.2.0.0", kScratchFolder);
        WineProgram& application = scenario.Start(velmor, {"--ignore-close"}, kScratchFolder);
        ASSERT_TRUE(scenario.WaitForWindow(kApplicationTitle, 20s));
        ASSERT_TRUE(scenario.PostClose(kApplicationTitle));
        ASSERT_TRUE(WaitUntil([&] { return scenario.VelmorLog(kScratchFolder).size() == 2; }, 10s));
        EXPECT_TRUE(application.Running()) << "the fixture ignores close requests";
    }
    EXPECT_FALSE(InspectWindow(WineSession::FromEnvironment(), kApplicationTitle));
}

// Wine gives a program that a Windows program starts a session of its own, as the updater's start
// of the application after an automatic run: the scenario still ends it.
TEST(Bench, EndingAScenarioEndsWhatItsProgramsStarted) {
    {
        Scenario scenario;
        const std::string velmor = scenario.PlaceVelmor("4.2.0.0", kScratchFolder);
        scenario.Start("C:\\windows\\system32\\cmd.exe", {"/c", "start", velmor}, kScratchFolder);
        ASSERT_TRUE(scenario.WaitForWindow(kApplicationTitle, 20s));
        EXPECT_EQ(scenario.Session().ProgramProcesses().size(), 1u);
    }
    EXPECT_TRUE(WineSession::FromEnvironment().ProgramProcesses().empty());
    EXPECT_FALSE(InspectWindow(WineSession::FromEnvironment(), kApplicationTitle));
}

} // namespace
} // namespace lumoradex::e2e
