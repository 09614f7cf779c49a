#include "system/process_services_win.h"

#include <windows.h>

#include <string>

#include "base/unique_handle_win.h"
#include "base/wide_text_win.h"
#include "base/win32_error_win.h"
#include "system/close_windows_win.h"

namespace lumoradex {

bool Win32ProcessServices::FermerFenetres(const std::string& wantedTitle) {
    return lumoradex::FermerFenetres(wantedTitle);
}

void Win32ProcessServices::Beep() {
    MessageBeep(MB_OK);
}

// The command line is searched the platform's way (the launcher's folder, the current folder, the
// system folders, PATH); the show state reaches the program as its nCmdShow. Nothing waits for it.
void Win32ProcessServices::StartProgram(const std::string& commandLine, int showState) {
    std::wstring mutableCommandLine = Widen(commandLine); // CreateProcessW may write into it
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showState);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, mutableCommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        ThrowLastError("CreateProcessW");
    UniqueKernelHandle processHandle(process.hProcess);
    UniqueKernelHandle threadHandle(process.hThread);
}

void Win32ProcessServices::EndProgram() {
    ExitProcess(0);
}

void Win32ProcessServices::Sleep(int milliseconds) {
    ::Sleep(static_cast<DWORD>(milliseconds));
}

} // namespace lumoradex
