#include "system/elevation_win.h"

#include <shellapi.h>

#include <string>
#include <string_view>

#include "base/system_library_win.h"
#include "base/unique_handle_win.h"
#include "base/wide_text_win.h"
#include "base/win32_error_win.h"

namespace lumoradex {
namespace {

std::wstring InFolder(const std::string& folder, std::string_view name) {
    return Widen(folder) + L"\\" + Widen(name);
}

// Only a refusal of access says that this process lacks the right; any other error (a missing
// folder, a file in use) is for the run to meet and report.
bool AccessDenied() {
    return GetLastError() == ERROR_ACCESS_DENIED;
}

// A new file, created and deleted on close, under a name no update uses.
bool MayCreateAndDelete(const std::string& folder) {
    const std::wstring probe = InFolder(folder, "NewMAJLumoradex" + std::to_string(GetCurrentProcessId()) + ".tmp");
    const UniqueFile file(CreateFileW(probe.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return file || !AccessDenied();
}

// Replacing a file by a rename takes the right to delete it. Opening for that right alone, sharing
// everything, neither changes the file nor disturbs the application that has it open.
bool MayReplace(const std::string& folder, std::string_view name) {
    const UniqueFile file(CreateFileW(InFolder(folder, name).c_str(), DELETE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      0, nullptr));
    return file || !AccessDenied();
}

} // namespace

bool Win32Elevation::MayWriteIn(const std::string& folder, std::span<const std::string_view> names) {
    if (!MayCreateAndDelete(folder))
        return false;
    for (std::string_view name : names) {
        if (!MayReplace(folder, name))
            return false;
    }
    return true;
}

// The prompt belongs to the window. Refused by the user (ERROR_CANCELLED) or impossible, nothing
// has started. shell32.dll, with all it loads, is taken from the system folder only when needed. The
// progress pipe is made before the instance starts, so that it finds it there; without it (its name
// taken by another program), the installation goes on unseen. The program ending while it waits
// (its window destroyed, WM_QUIT) ends here, as if it had been killed: the elevated instance
// finishes or fails on its own, and nothing of the run goes on without it, such as the start of the
// application while the instance still installs.
std::optional<int> Win32Elevation::RunElevated(const std::string& program, const std::string& arguments,
                                               const std::function<void(const std::string&)>& progress) {
    const UniqueLibrary shell = LoadSystemLibrary(L"shell32.dll");
    const auto shellExecute = SystemProcedure<decltype(&ShellExecuteExW)>(shell.Get(), "ShellExecuteExW");
    std::unique_ptr<ProgressReceiver> receiver;
    try {
        receiver = std::make_unique<ProgressReceiver>();
    } catch (const Win32Error&) {
    }
    const std::wstring file = Widen(program);
    const std::wstring parameters = Widen(arguments);
    SHELLEXECUTEINFOW execute{};
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    execute.hwnd = progressWindow_;
    execute.lpVerb = L"runas";
    execute.lpFile = file.c_str();
    execute.lpParameters = parameters.c_str();
    execute.nShow = SW_HIDE;
    if (!shellExecute(&execute) || execute.hProcess == nullptr)
        return std::nullopt;
    const UniqueKernelHandle process(execute.hProcess);
    if (const std::optional<int> quit = WaitForElevatedInstance(process.Get(), receiver.get(), progress))
        ExitProcess(static_cast<UINT>(*quit));
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.Get(), &exitCode))
        ThrowLastError("GetExitCodeProcess");
    return static_cast<int>(exitCode);
}

// The window behaves as during a download: repainted, its input handled, so that its close box and
// "Terminer" end the program at once, its dialog keys (the tab order of its own loop) not. Sent
// messages are answered, so that no other program's sender waits for the installation. Only the
// process started here is heard, and what it sent before it ended is still shown.
std::optional<int> WaitForElevatedInstance(HANDLE process, ProgressReceiver* receiver,
                                           const std::function<void(const std::string&)>& progress) {
    const DWORD sender = GetProcessId(process);
    const auto show = [&] {
        for (const std::string& text : receiver->Take(sender))
            progress(text);
    };
    const HANDLE waited[] = {process, receiver ? receiver->Event() : nullptr};
    const DWORD count = receiver ? 2 : 1;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                return static_cast<int>(message.wParam);
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        // Any message in the queue wakes it, also one that a handler's own peek saw and left there.
        const DWORD woken = MsgWaitForMultipleObjectsEx(count, waited, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woken == WAIT_OBJECT_0) {
            if (receiver)
                show();
            return std::nullopt;
        }
        if (woken == WAIT_FAILED)
            ThrowLastError("MsgWaitForMultipleObjectsEx");
        if (woken == WAIT_OBJECT_0 + 1 && count == 2)
            show();
    }
}

} // namespace lumoradex
