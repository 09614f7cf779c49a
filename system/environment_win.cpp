#include "system/environment_win.h"

#include <windows.h>

#include "base/unique_handle_win.h"
#include "base/wide_text_win.h"
#include "base/win32_error_win.h"
#include "system/command_line_win.h"
#include "system/version_fichier_win.h"

namespace lumoradex {
namespace {

struct FindTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) noexcept { FindClose(handle); }
};
using UniqueFind = UniqueHandle<FindTraits>;

constexpr DWORD kNotOrdinary = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;

} // namespace

std::string Win32Environment::CommandLine() const {
    return ArgumentText();
}

// A directory search, as the application's own file tests do: hidden files, system files and
// folders do not count, and the file system compares names without regard to letter case. A name
// or folder that is not there means absent; any other failure (a drive not ready) is a failure.
bool Win32Environment::OrdinaryFileExists(const std::string& path) const {
    WIN32_FIND_DATAW found;
    const UniqueFind search(FindFirstFileW(Widen(path).c_str(), &found));
    if (!search) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_NO_MORE_FILES)
            return false;
        throw Win32Error("FindFirstFileW", error);
    }
    do {
        if ((found.dwFileAttributes & kNotOrdinary) == 0)
            return true;
    } while (FindNextFileW(search.Get(), &found));
    return false;
}

std::string Win32Environment::CurrentFolder() const {
    const DWORD length = GetCurrentDirectoryW(0, nullptr);
    if (length == 0)
        ThrowLastError("GetCurrentDirectoryW");
    std::wstring folder(length, L'\0');
    folder.resize(GetCurrentDirectoryW(length, folder.data()));
    return Narrow(folder);
}

void Win32Environment::ChangeFolder(const std::string& folder) {
    if (!SetCurrentDirectoryW(Widen(folder).c_str()))
        ThrowLastError("SetCurrentDirectoryW");
}

// "C:" alone names the drive's own current folder (its root when it has none yet), so the drive
// changes without leaving the folder last used there.
void Win32Environment::ChangeDrive(const std::string& drive) {
    if (!SetCurrentDirectoryW(Widen(drive.substr(0, 1) + ":").c_str()))
        ThrowLastError("SetCurrentDirectoryW");
}

std::string Win32Environment::FileVersion(const std::string& fileName) const {
    return VersionFichier(fileName);
}

} // namespace lumoradex
