#pragma once
// The end-to-end bench: drives the real MAJLumoradex.exe under Wine, as a user and the update
// server would. Include this header in tests/e2e/*_test.cpp (each becomes a CTest test, label
// e2e, run inside the build tree's Wine session).
//
//     TEST(VersionCheck, OffersTheUpdate) {
//         Scenario scenario;                                   // clean folders, nothing running
//         scenario.PlaceVelmor("4.2.0.0", kInstallFolder);     // installed 4.2.0 (4th word = 3rd part)
//         scenario.Server().SetVersionPage("4.2.1");           // loopback server, build's port
//         WineProgram& updater = scenario.StartInteractive(kInstallFolder);
//         std::optional<WindowReport> window = scenario.WaitForWindow();   // "Mise à jour de Lumoradex"
//         ASSERT_TRUE(window);
//         UpdaterItems items = UpdaterItems::Of(*window);      // VLocale, VSite, Message, buttons
//         EXPECT_TRUE(WaitUntil([&] { ... scenario.Inspect() ... }, 10s));
//         EXPECT_EQ(scenario.Server().RequestCount("/version.htm"), 1);
//     }                                                        // kills what it started, stops the server
//
// What there is:
// - Scenario (scenario.h): Windows folders by Windows path (kInstallFolder, kScratchFolder "C:\e2e",
//   kOtherDrive "D:\", all cleared at the start), fixture copies (PlaceVelmor with "4.2.0.1"-style
//   four-part versions or "noversion", PlaceUpdater, PlaceFakeExplorer; UseUpdater first for another build
//   of the program, SetProgramVariable for its environment, SignRelease in release_signing.h),
//   fixture logs (VelmorLog,
//   ExplorerLog: Records of kind start/lock/close/exit, each with time_ms), programs (Start,
//   StartInteractive, StartAutomatic -> WineProgram: WaitForExit, Running, Kill, Output, LinuxPid),
//   windows (Inspect, WaitForWindow, PostClose, WatchWhileRunning), the server (Server, StopServer)
//   and the display. Every program of the session, also one a program started, ends with the
//   scenario (and any left over ends when the next one starts).
// - UpdateServer and Reply (update_server.h): scripted answers and faults per path, request log;
//   also as the program lumoradex-test-server for the demo and the benchmarks.
// - WebServer (web_server.h): Debian's nginx serving a folder, for answers nobody scripted (the
//   UpdateServer can stand in front of it and cut them); TemporaryFolder.
// - WindowReport, UpdaterItems (window_report.h): what inspector.exe reports, parsed. While the
//   program's thread is blocked (a fetch), texts come from the copy the system keeps
//   (text_source "system"), which the updater keeps up to date.
// - XDisplay, Image, Rgb (x_display.h): X windows by title, screenshots, pixels, mouse clicks;
//   screen coordinates = Win32 screen coordinates (WindowReport::ScreenX/ScreenY/ScreenRect).
// - WaitUntil (scenario.h): poll a condition with a deadline. Never assert on durations.
// - tests/win32/fixture_process_win.h: the same fixtures from Windows-side tests.

#include "tests/e2e/build_paths.h"
#include "tests/e2e/record.h"
#include "tests/e2e/release_signing.h"
#include "tests/e2e/scenario.h"
#include "tests/e2e/unmanaged_windows.h"
#include "tests/e2e/update_offer.h"
#include "tests/e2e/update_server.h"
#include "tests/e2e/web_server.h"
#include "tests/e2e/window_report.h"
#include "tests/e2e/wine_session.h"
#include "tests/e2e/x_display.h"
