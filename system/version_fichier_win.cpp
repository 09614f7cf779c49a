#include "system/version_fichier_win.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "base/system_library_win.h"
#include "base/wide_text_win.h"

namespace lumoradex {
namespace {

constexpr char kUnreadableVersion[] = "0.0.0";

using GetSizeFunction = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
using GetInfoFunction = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
using QueryValueFunction = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

std::wstring WindowsFolder(UINT(WINAPI* folderOf)(LPWSTR, UINT)) {
    wchar_t folder[MAX_PATH];
    const UINT length = folderOf(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring program(path, length < MAX_PATH ? length : 0);
    const std::size_t separator = program.find_last_of(L'\\');
    return separator == std::wstring::npos ? std::wstring() : program.substr(0, separator);
}

std::wstring CurrentFolder() {
    wchar_t folder[MAX_PATH];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, folder);
    return length > 0 && length < MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

// The version functions search a bare name with the library loader's rules, and the program
// restricts those rules to the system folder for its own safety (main_win.cpp). The documented
// order is therefore applied here: the program's folder, the system folders, the current folder,
// then PATH. A name with a folder in it is used unchanged, as is a name found nowhere.
std::wstring LocateLikeTheLibraryLoader(const std::wstring& name) {
    if (name.find_first_of(L"\\/:") != std::wstring::npos)
        return name;
    const std::wstring windows = WindowsFolder(GetWindowsDirectoryW);
    std::wstring searchPath = ProgramFolder() + L";" + WindowsFolder(GetSystemDirectoryW) + L";" + windows +
                              L"\\System;" + windows + L";" + CurrentFolder();
    if (const DWORD length = GetEnvironmentVariableW(L"PATH", nullptr, 0); length > 0) {
        std::wstring path(length, L'\0');
        path.resize(GetEnvironmentVariableW(L"PATH", path.data(), length));
        searchPath += L";" + path;
    }
    wchar_t found[MAX_PATH];
    const DWORD length = SearchPathW(searchPath.c_str(), name.c_str(), nullptr, MAX_PATH, found, nullptr);
    return length > 0 && length < MAX_PATH ? std::wstring(found, length) : name;
}

// The three words of the version as unsigned numbers: a part above 32767 is not negative.
std::string VersionText(const VS_FIXEDFILEINFO& fixed) {
    return std::to_string(HIWORD(fixed.dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed.dwFileVersionMS)) + "." +
           std::to_string(LOWORD(fixed.dwFileVersionLS));
}

std::string ReadVersion(const std::wstring& file) {
    const UniqueLibrary versionLibrary = LoadSystemLibrary(L"version.dll");
    const auto getSize = SystemProcedure<GetSizeFunction>(versionLibrary.Get(), "GetFileVersionInfoSizeW");
    const auto getInfo = SystemProcedure<GetInfoFunction>(versionLibrary.Get(), "GetFileVersionInfoW");
    const auto queryValue = SystemProcedure<QueryValueFunction>(versionLibrary.Get(), "VerQueryValueW");

    DWORD ignored = 0;
    const DWORD size = getSize(file.c_str(), &ignored);
    if (size < 1)
        return kUnreadableVersion;
    // One byte more than the version information, zero-filled; the last one is never written.
    std::vector<std::byte> block(static_cast<std::size_t>(size) + 1);
    if (!getInfo(file.c_str(), 0, size, block.data()))
        return kUnreadableVersion;
    void* root = nullptr;
    UINT rootLength = 0;
    if (!queryValue(block.data(), L"\\", &root, &rootLength) || root == nullptr)
        return kUnreadableVersion;
    // The copy must stay inside the block even for a malformed resource.
    const auto* start = static_cast<const std::byte*>(root);
    if (start < block.data() || start + sizeof(VS_FIXEDFILEINFO) > block.data() + block.size())
        return kUnreadableVersion;
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, start, sizeof fixed);
    return VersionText(fixed);
}

} // namespace

// Never fails towards its caller: a missing file, a file without version resource, a failed
// allocation or a missing version library all read as "0.0.0".
std::string VersionFichier(const std::string& fileName) {
    try {
        return ReadVersion(LocateLikeTheLibraryLoader(Widen(fileName)));
    } catch (...) {
        return kUnreadableVersion;
    }
}

} // namespace lumoradex
