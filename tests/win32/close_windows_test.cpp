#include "system/close_windows_win.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/win32/fixture_process_win.h"
#include "tests/win32/temporary_folder_win.h"

namespace lumoradex {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using win32_tests::FixturePath;
using win32_tests::FixtureProcess;
using win32_tests::ReadFileText;
using win32_tests::TemporaryFolder;

// Windows of another process, whose close requests the test reads from the fixture's log. Titles
// are unusual enough that nothing else in the session bears them.
class WindowsOfAnotherProcess {
public:
    explicit WindowsOfAnotherProcess(const std::vector<std::wstring>& titles)
        : log_(folder_ / "closes.log"),
          process_(FixtureProcess::StartReady(FixturePath(L"update_install\\titled_windows.exe"), Quote(Widen(log_)),
                                              Join(titles))) {}

    // The indexes of the windows that got WM_CLOSE since the last call, in order of receipt, once the
    // fixture has handled everything posted to it before this call.
    std::vector<int> CloseRequests() {
        HWND any = AnyWindow();
        EXPECT_NE(any, nullptr);
        PostMessageW(any, WM_APP, 0, 0);
        ++syncs_;
        std::string log;
        for (int wait = 0; wait < 200 && Count(log = ReadFileText(log_), "done") < syncs_; ++wait)
            Sleep(50);
        EXPECT_EQ(Count(log, "done"), syncs_);
        std::vector<int> closed;
        int done = 0;
        for (std::size_t at = 0; at < log.size();) {
            const std::size_t end = log.find('\n', at);
            const std::string line = log.substr(at, end - at);
            if (line == "done")
                ++done;
            else if (line.starts_with("close ") && done == syncs_ - 1)
                closed.push_back(std::stoi(line.substr(6)));
            at = end == std::string::npos ? log.size() : end + 1;
        }
        return closed;
    }

private:
    static int Count(const std::string& log, const std::string& line) {
        int count = 0;
        for (std::size_t at = 0; (at = log.find(line + "\n", at)) != std::string::npos; at += line.size())
            ++count;
        return count;
    }
    static std::wstring Quote(const std::wstring& text) { return L"\"" + text + L"\""; }
    static std::wstring Join(const std::vector<std::wstring>& titles) {
        std::wstring joined;
        for (const std::wstring& title : titles)
            joined += (title == L"--hidden" ? title : Quote(title)) + L" ";
        return joined;
    }
    HWND AnyWindow() const {
        for (HWND window = GetWindow(GetDesktopWindow(), GW_CHILD); window != nullptr;
             window = GetWindow(window, GW_HWNDNEXT)) {
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            if (pid == process_.Id())
                return window;
        }
        return nullptr;
    }

    TemporaryFolder folder_;
    std::string log_;
    FixtureProcess process_;
    int syncs_ = 0;
};

TEST(FermerFenetres, ClosesEveryWindowWithTheWholeTitleInAnyLetterCase) {
    WindowsOfAnotherProcess windows({L"Lumoradex Close Test", L"LUMORADEX CLOSE TEST", L"lumoradex close test",
                                     L"--hidden", L"lUMORADEX cLOSE tEST"});
    EXPECT_TRUE(FermerFenetres("Lumoradex Close Test"));
    std::vector<int> closed = windows.CloseRequests();
    std::sort(closed.begin(), closed.end());
    EXPECT_THAT(closed, ElementsAre(0, 1, 2, 3)); // the hidden one too, each exactly once
}

TEST(FermerFenetres, TitleThatMerelyContainsTheWantedOneIsLeftAlone) {
    WindowsOfAnotherProcess windows(
        {L"Lumoradex Close Test suffix", L"Lumoradex Close Test ", L" Lumoradex Close Test", L"Lumoradex Close Tes"});
    EXPECT_TRUE(FermerFenetres("Lumoradex Close Test"));
    EXPECT_THAT(windows.CloseRequests(), IsEmpty());
}

TEST(FermerFenetres, EmptyWantedTitleClosesNothing) {
    WindowsOfAnotherProcess windows({L"", L"--hidden", L"", L"Lumoradex Close Test"});
    EXPECT_TRUE(FermerFenetres(""));
    EXPECT_THAT(windows.CloseRequests(), IsEmpty());
}

TEST(FermerFenetres, NoWindowWithTheTitleStillSucceeds) {
    EXPECT_TRUE(FermerFenetres("Lumoradex Close Test that no window bears"));
}

TEST(FermerFenetres, LongTitleIsComparedOnItsFirst254Characters) {
    const std::wstring title = L"Lumoradex Long " + std::wstring(300, L'x');
    WindowsOfAnotherProcess windows({title});
    EXPECT_TRUE(FermerFenetres(Narrow(title))); // the whole title is longer than what is read
    EXPECT_TRUE(FermerFenetres(Narrow(title.substr(0, 253))));
    EXPECT_THAT(windows.CloseRequests(), IsEmpty());
    EXPECT_TRUE(FermerFenetres(Narrow(title.substr(0, 254))));
    EXPECT_THAT(windows.CloseRequests(), ElementsAre(0));
}

TEST(FermerFenetres, AccentedTitleMatchesInAnyLetterCase) {
    WindowsOfAnotherProcess windows({L"Lumoradex \u00e9t\u00e9 Close Test"});
    EXPECT_TRUE(FermerFenetres("LUMORADEX \u00c9T\u00c9 CLOSE TEST"));
    EXPECT_THAT(windows.CloseRequests(), ElementsAre(0));
}

} // namespace
} // namespace lumoradex
