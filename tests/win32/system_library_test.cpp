// The search for libraries loaded by name, restricted as the program does first thing: a library
// planted beside the program (where an updater's downloads lie) or in the current folder is never
// loaded by name. This process then searches as the program does, for every test after this one.

#include "base/system_library_win.h"

#include <gtest/gtest.h>

#include <string>

#include "base/unique_handle_win.h"
#include "tests/win32/temporary_folder_win.h"

namespace lumoradex {
namespace {

using win32_tests::TemporaryFolder;

std::wstring ProgramFolder() {
    wchar_t program[MAX_PATH * 2];
    const DWORD length = GetModuleFileNameW(nullptr, program, static_cast<DWORD>(std::size(program)));
    const std::wstring path(program, length);
    return path.substr(0, path.find_last_of(L'\\'));
}

// A copy of a system library under a name of its own, in the folder, removed with the test.
class PlantedLibrary {
public:
    PlantedLibrary(const std::wstring& folder, const std::wstring& name) : path_(folder + L"\\" + name) {
        wchar_t system[MAX_PATH];
        const UINT length = GetSystemDirectoryW(system, MAX_PATH);
        EXPECT_TRUE(CopyFileW((std::wstring(system, length) + L"\\version.dll").c_str(), path_.c_str(), FALSE));
    }
    PlantedLibrary(const PlantedLibrary&) = delete;
    PlantedLibrary& operator=(const PlantedLibrary&) = delete;
    ~PlantedLibrary() { DeleteFileW(path_.c_str()); }

private:
    std::wstring path_;
};

// The test's folder is the current one while it runs; the one before is restored before it goes.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::wstring& folder) {
        wchar_t before[MAX_PATH];
        before_.assign(before, GetCurrentDirectoryW(MAX_PATH, before));
        EXPECT_TRUE(SetCurrentDirectoryW(folder.c_str()));
    }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;
    ~CurrentFolder() { SetCurrentDirectoryW(before_.c_str()); }

private:
    std::wstring before_;
};

bool LoadsByName(const std::wstring& name) {
    return static_cast<bool>(UniqueLibrary(LoadLibraryW(name.c_str())));
}

// Under Wine the loader has SetDefaultDllDirectories, so the program's own folder goes too. The
// fallback of a Windows 7 without KB2533623 cannot be seen here: Wine's SetDllDirectoryW(L"") leaves
// even the current folder in the search (measured with Wine 8).
TEST(LibrarySearch, LibrariesLoadedByNameComeFromTheSystemFolderOnly) {
    const std::wstring tag = std::to_wstring(GetCurrentProcessId()) + L".dll";
    const std::wstring besideName = L"LumoradexPlantedBeside" + tag;
    const std::wstring currentName = L"LumoradexPlantedCurrent" + tag;
    const PlantedLibrary beside(ProgramFolder(), besideName);
    const TemporaryFolder folder;
    const PlantedLibrary inCurrent(folder.Wide(), currentName);
    const CurrentFolder current(folder.Wide());
    // The loader's own order finds both copies: what the restriction must take away.
    ASSERT_TRUE(LoadsByName(besideName));
    ASSERT_TRUE(LoadsByName(currentName));

    RestrictLibrarySearchToSystemFolder();
    EXPECT_FALSE(LoadsByName(besideName));
    EXPECT_FALSE(LoadsByName(currentName));
    EXPECT_TRUE(LoadsByName(L"version.dll"));
}

} // namespace
} // namespace lumoradex
