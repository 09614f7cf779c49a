// What this process may write, found by trying, as the update run asks before it offers elevation.

#include "system/elevation_win.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "tests/win32/temporary_folder_win.h"

namespace lumoradex {
namespace {

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

} // namespace
} // namespace lumoradex
