// What this process may write, found by trying, as the update run asks before it offers elevation;
// and the clicked instance's window while it waits for its elevated instance.

#include "system/elevation_win.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "tests/win32/bouton_test_host.h"
#include "tests/win32/fixture_process_win.h"
#include "tests/win32/temporary_folder_win.h"

namespace lumoradex {
namespace {

using win32_tests::FixturePath;
using win32_tests::FixtureProcess;
using win32_tests::TemporaryFolder;
using win32_tests::WriteFileText;

const std::vector<std::string_view> kNames{"Velmor.prm", "Velmor.exe"};

class MayWriteIn : public ::testing::Test {
protected:
    HWND window_ = nullptr;
    Win32Elevation elevation{window_};
    TemporaryFolder folder;
};

// The probe leaves nothing behind; names the folder lacks are the run's to add.
TEST_F(MayWriteIn, AFolderThisProcessMayWrite) {
    WriteFileText(folder / "Velmor.exe", "installed");
    EXPECT_TRUE(elevation.MayWriteIn(folder.Path(), kNames));
    EXPECT_FALSE(
        win32_tests::FileExists(folder / ("NewMAJLumoradex" + std::to_string(GetCurrentProcessId()) + ".tmp")));
}

// Only a refusal of access says "may not": under Wine, as root, a folder where a file should be is
// the one refusal there is.
TEST_F(MayWriteIn, AFileThisProcessMayNotReplace) {
    ASSERT_TRUE(CreateDirectoryW(Widen(folder / "Velmor.exe").c_str(), nullptr));
    EXPECT_FALSE(elevation.MayWriteIn(folder.Path(), kNames));
}

// A missing folder is for the run to meet and report, not a reason to ask for rights.
TEST_F(MayWriteIn, AMissingFolderIsNoRefusal) {
    EXPECT_TRUE(elevation.MayWriteIn(folder / "absent", kNames));
}

// --- the wait for the elevated instance -----------------------------------------------------------

constexpr int kTerminer = 31;
constexpr UINT kEndedByClick = 7;
constexpr int kQuitCode = 3;
constexpr wchar_t kClosingClass[] = L"MAJLumoradex.Test.ClosingWindow";

// A hidden window that, like Principal, asks the program to end once it is destroyed.
class ClosingWindow {
public:
    ClosingWindow() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kClosingClass;
        RegisterClassW(&windowClass);
        window_ = CreateWindowW(kClosingClass, L"", 0, 0, 0, 10, 10, nullptr, nullptr, windowClass.hInstance, nullptr);
    }
    ClosingWindow(const ClosingWindow&) = delete;
    ClosingWindow& operator=(const ClosingWindow&) = delete;
    ~ClosingWindow() {
        if (IsWindow(window_))
            DestroyWindow(window_);
    }
    HWND Handle() const { return window_; }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_DESTROY)
            PostQuitMessage(kQuitCode);
        return DefWindowProcW(window, message, wParam, lParam);
    }

    HWND window_ = nullptr;
};

// A fixture program stands for an elevated instance that installs for longer than any test waits.
class ElevatedInstanceWait : public ::testing::Test {
protected:
    ~ElevatedInstanceWait() override { SetCursorPos(0, 0); }

    std::optional<int> Wait() {
        return WaitForElevatedInstance(process.Get(), nullptr, [](const std::string&) {});
    }
    DWORD ExitCode() const {
        DWORD code = 0;
        GetExitCodeProcess(process.Get(), &code);
        return code;
    }

    FixtureProcess instance =
        FixtureProcess::StartReady(FixturePath(L"update_install\\file_holder.exe"), L"", L"20000");
    UniqueKernelHandle process{
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, instance.Id())};
};

// A click on "Terminer" (input the pointer brings, not a message sent) is handled at once: in the
// program, it ends the clicked instance; here it ends the instance waited for.
TEST_F(ElevatedInstanceWait, AClickIsHandledWhileTheInstanceRuns) {
    ASSERT_TRUE(process);
    testing_host::Host host;
    const HWND terminer = host.Add(kTerminer, "Terminer", 10, 10, 153);
    host.onEvent = [&](const testing_host::Event& event) {
        if (event.code == kBoutonClick)
            TerminateProcess(process.Get(), kEndedByClick);
    };
    RECT box{};
    GetWindowRect(terminer, &box);
    SetCursorPos(box.left + 100, box.top + 10);
    INPUT click[2]{};
    click[0].type = click[1].type = INPUT_MOUSE;
    click[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    click[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    ASSERT_EQ(SendInput(2, click, sizeof click[0]), 2u);

    EXPECT_EQ(Wait(), std::nullopt);
    EXPECT_EQ(host.Clicks(), (std::vector<testing_host::Event>{{kTerminer, kBoutonClick}}));
    EXPECT_EQ(ExitCode(), kEndedByClick);
}

// A window closed (WM_CLOSE posted, as the close box or another program does) and destroyed: the
// program is ending, and the wait ends with the WM_QUIT it posts while the instance goes on alone.
TEST_F(ElevatedInstanceWait, AClosedWindowEndsTheWaitWhileTheInstanceRuns) {
    ASSERT_TRUE(process);
    ClosingWindow window;
    PostMessageW(window.Handle(), WM_CLOSE, 0, 0);

    EXPECT_EQ(Wait(), kQuitCode);
    EXPECT_FALSE(IsWindow(window.Handle()));
    EXPECT_TRUE(instance.Running());
}

} // namespace
} // namespace lumoradex
