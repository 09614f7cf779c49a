#include "system/environment_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/step_failure.h"
#include "base/wide_text_win.h"
#include "tests/win32/temporary_folder_win.h"

namespace lumoradex {
namespace {

using win32_tests::TemporaryFolder;

// A temporary folder with an ordinary file, a hidden one, a system one and a folder, all named like
// executables; the current folder is restored before the folder goes.
class EnvironmentTest : public ::testing::Test {
protected:
    EnvironmentTest() {
        AddFile(L"Velmor.exe", FILE_ATTRIBUTE_NORMAL);
        AddFile(L"Hidden.exe", FILE_ATTRIBUTE_HIDDEN);
        AddFile(L"System.exe", FILE_ATTRIBUTE_SYSTEM);
        CreateDirectoryW((folder_ / L"Folder.exe").c_str(), nullptr);
        start_ = environment_.CurrentFolder();
    }
    ~EnvironmentTest() override { SetCurrentDirectoryW(Widen(start_).c_str()); }

    void AddFile(const wchar_t* name, DWORD attributes) {
        HANDLE file =
            CreateFileW((folder_ / name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
    }
    std::string In(const char* name) const { return folder_ / name; }

    Win32Environment environment_;
    TemporaryFolder folder_;
    std::string start_;
};

TEST_F(EnvironmentTest, OnlyOrdinaryFilesExist) {
    EXPECT_TRUE(environment_.OrdinaryFileExists(In("Velmor.exe")));
    EXPECT_FALSE(environment_.OrdinaryFileExists(In("Hidden.exe")));
    EXPECT_FALSE(environment_.OrdinaryFileExists(In("System.exe")));
    EXPECT_FALSE(environment_.OrdinaryFileExists(In("Folder.exe")));
    EXPECT_FALSE(environment_.OrdinaryFileExists(In("Absent.exe")));
    EXPECT_FALSE(environment_.OrdinaryFileExists(In("no folder\\Velmor.exe")));
}

TEST_F(EnvironmentTest, NamesCompareWithoutRegardToLetterCase) {
    EXPECT_TRUE(environment_.OrdinaryFileExists(In("velmor.exe")));
    EXPECT_TRUE(environment_.OrdinaryFileExists(In("VELMOR.EXE")));
}

TEST_F(EnvironmentTest, BareNamesAreResolvedInTheCurrentFolder) {
    environment_.ChangeFolder(folder_.Path());
    EXPECT_EQ(environment_.CurrentFolder(), folder_.Path());
    EXPECT_TRUE(environment_.OrdinaryFileExists("velmor.exe"));
    EXPECT_FALSE(environment_.OrdinaryFileExists("hidden.exe"));
}

TEST_F(EnvironmentTest, ChangingToAMissingFolderFailsAndStaysPut) {
    environment_.ChangeFolder(folder_.Path());
    EXPECT_THROW(environment_.ChangeFolder(In("missing")), StepFailure);
    EXPECT_EQ(environment_.CurrentFolder(), folder_.Path());
}

TEST_F(EnvironmentTest, ChangingTheDriveKeepsTheFolderAlreadyCurrentThere) {
    environment_.ChangeFolder("C:\\windows");
    environment_.ChangeDrive("C:");
    EXPECT_EQ(environment_.CurrentFolder(), "C:\\windows");
}

TEST_F(EnvironmentTest, ChangingTheDriveFromAnotherDriveEndsOnDriveC) {
    environment_.ChangeFolder("Z:\\");
    environment_.ChangeDrive("C:");
    EXPECT_EQ(environment_.CurrentFolder().substr(0, 3), "C:\\");
}

} // namespace
} // namespace lumoradex
