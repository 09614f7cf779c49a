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

// SetDefaultDllDirectories came with the loader update KB2533623: imported, it would keep the program
// from starting on a Windows 7 without that update, so it is looked up. Where it is missing,
// SetDllDirectoryW(L"") (XP SP1 on) takes at least the current folder out of the search; the
// program's own folder stays first, which only the update can change. That leaves little: the
// libraries the program imports are known DLLs, always taken from the system folder, and those it
// loads itself come by full path (LoadSystemLibrary), so only a library that one of those loads by
// bare name later could still be taken from beside the program.
void RestrictLibrarySearchToSystemFolder() {
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const FARPROC procedure = kernel != nullptr ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    const auto setDefaultDllDirectories =
        reinterpret_cast<decltype(&SetDefaultDllDirectories)>(reinterpret_cast<void*>(procedure));
    if (setDefaultDllDirectories == nullptr || !setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32))
        SetDllDirectoryW(L"");
}

} // namespace lumoradex
