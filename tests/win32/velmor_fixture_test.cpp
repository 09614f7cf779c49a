// The fixture application the update tests rely on: its log of how it was started and closed, and
// the options that give it several windows, make it deaf to close requests or hold a file locked.
// (Its version resources are read by the version reader's own tests.)

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/win32/fixture_process_win.h"
#include "tests/win32/temporary_folder_win.h"

namespace lumoradex {
namespace {

using win32_tests::FixturePath;
using win32_tests::FixtureProcess;
using win32_tests::FixtureRecord;
using win32_tests::ReadFixtureLog;
using win32_tests::TemporaryFolder;

constexpr DWORD kPatience = 20000;

// The copy of Velmor.exe built with this file version, copied into a temporary folder.
std::wstring PlaceVelmor(const TemporaryFolder& folder, const wchar_t* version) {
    const std::wstring target = folder / L"Velmor.exe";
    CopyFileW(FixturePath(std::wstring(L"velmor\\") + version + L"\\Velmor.exe").c_str(), target.c_str(), FALSE);
    return target;
}

TEST(VelmorFixture, LogsHowItWasStartedAndEachCloseRequest) {
    TemporaryFolder folder;
    const std::wstring velmor = PlaceVelmor(folder, L"4.2.0.0");
    FixtureProcess application(velmor, L"--close-delay=200 bonjour", folder.Wide(), SW_SHOWMINIMIZED);
    ASSERT_TRUE(application.Started());
    std::vector<HWND> windows = application.WaitForWindows(L"Lumoradex", 1, kPatience);
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_TRUE(IsIconic(windows[0]));

    PostMessageW(windows[0], WM_CLOSE, 0, 0);
    ASSERT_TRUE(application.WaitForExit(kPatience));

    const std::vector<FixtureRecord> log = ReadFixtureLog(folder / L"velmor.log");
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].at("kind"), "start");
    EXPECT_EQ(log[0].at("pid"), std::to_string(application.Id()));
    EXPECT_EQ(log[0].at("folder"), folder.Path());
    EXPECT_EQ(log[0].at("show"), "2");
    EXPECT_EQ(log[0].at("startup_show"), "2");
    EXPECT_NE(log[0].at("command_line").find("--close-delay=200 bonjour"), std::string::npos);
    EXPECT_EQ(log[1].at("kind"), "close");
    EXPECT_EQ(log[2].at("kind"), "exit");
    EXPECT_EQ(log[2].at("reason"), "closed");
}

TEST(VelmorFixture, OpensOneWindowPerTitleAndEndsWithTheLast) {
    TemporaryFolder folder;
    FixtureProcess application(PlaceVelmor(folder, L"4.2.0.0"), L"--hidden --title=LUMORADEX \"--title=Lumoradex \"",
                               folder.Wide());
    std::vector<HWND> upper = application.WaitForWindows(L"LUMORADEX", 1, kPatience);
    std::vector<HWND> spaced = application.WaitForWindows(L"Lumoradex ", 1, kPatience);
    ASSERT_EQ(upper.size(), 1u);
    ASSERT_EQ(spaced.size(), 1u);
    EXPECT_FALSE(IsWindowVisible(upper[0]));

    PostMessageW(upper[0], WM_CLOSE, 0, 0);
    EXPECT_FALSE(application.WaitForExit(300)) << "one window is still open";
    PostMessageW(spaced[0], WM_CLOSE, 0, 0);
    ASSERT_TRUE(application.WaitForExit(kPatience));
    const std::vector<FixtureRecord> log = ReadFixtureLog(folder / L"velmor.log");
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[1].at("title"), "LUMORADEX");
    EXPECT_EQ(log[2].at("title"), "Lumoradex ");
}

TEST(VelmorFixture, CanIgnoreCloseRequestsAndHoldAFileWithoutSharing) {
    TemporaryFolder folder;
    const std::wstring data = folder / L"socle.mdb";
    UniqueFile(CreateFileW(data.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    FixtureProcess application(PlaceVelmor(folder, L"4.2.0.0"), L"--ignore-close \"--lock=" + data + L"\"",
                               folder.Wide());
    std::vector<HWND> windows = application.WaitForWindows(L"Lumoradex", 1, kPatience);
    ASSERT_EQ(windows.size(), 1u);
    const std::vector<FixtureRecord> log = ReadFixtureLog(folder / L"velmor.log");
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[1].at("kind"), "lock");
    EXPECT_EQ(log[1].at("ok"), "1");

    UniqueFile opened(CreateFileW(data.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(opened);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    PostMessageW(windows[0], WM_CLOSE, 0, 0);
    EXPECT_FALSE(application.WaitForExit(300));
    EXPECT_TRUE(application.Running());
}

} // namespace
} // namespace lumoradex
