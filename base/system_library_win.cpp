#include "base/system_library_win.h"

#include <string>

namespace lumoradex {

// A full path leaves the loader no folder to choose; LOAD_LIBRARY_SEARCH_SYSTEM32 keeps the
// library's own dependencies in the system folder too. Systems without that flag (Windows 7 before
// KB2533623) reject it: the altered search path then starts the dependencies' search beside the library.
UniqueLibrary LoadSystemLibrary(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        ThrowLastError("GetSystemDirectoryW");
    const std::wstring path = std::wstring(folder, length) + L"\\" + name;
    HMODULE library = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library == nullptr && GetLastError() == ERROR_INVALID_PARAMETER)
        library = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr)
        ThrowLastError("LoadLibraryExW");
    return UniqueLibrary(library);
}

} // namespace lumoradex
