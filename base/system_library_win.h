#pragma once
// System libraries loaded at run time from the system folder: the updater runs beside downloaded
// files, and a library imported by name could be taken from the program's own folder.

#include <windows.h>

#include "base/unique_handle_win.h"
#include "base/win32_error_win.h"

namespace lumoradex {

// Loads e.g. L"version.dll" from the system folder; throws Win32Error.
UniqueLibrary LoadSystemLibrary(const wchar_t* name);

// Libraries loaded by name then come from the system folder, or at least never from the current folder.
void RestrictLibrarySearchToSystemFolder();

// The address of a procedure of a loaded library, as the given function pointer type; throws Win32Error.
template <class Function> Function SystemProcedure(HMODULE library, const char* name) {
    FARPROC procedure = GetProcAddress(library, name);
    if (procedure == nullptr)
        ThrowLastError("GetProcAddress");
    return reinterpret_cast<Function>(reinterpret_cast<void*>(procedure));
}

} // namespace lumoradex
