#pragma once
// Elevation over Win32: what this process may write, found by trying, and an elevated instance of
// the program (ShellExecuteEx, verb "runas") whose progress comes through this process's pipe.

#include <windows.h>

#include <memory>

#include "system/progress_relay_win.h"
#include "updater/ports/elevation.h"

namespace lumoradex {

class Win32Elevation : public Elevation {
public:
    // progressWindow: the window that owns the prompt and shows the elevated instance's progress.
    explicit Win32Elevation(HWND progressWindow) : progressWindow_(progressWindow) {}

    bool MayWriteIn(const std::string& folder, std::span<const std::string_view> names) override;
    std::uintptr_t ProgressWindow() const override { return reinterpret_cast<std::uintptr_t>(progressWindow_); }
    std::optional<int> RunElevated(const std::string& program, const std::string& arguments,
                                   const std::function<void(const std::string&)>& progress) override;

private:
    HWND progressWindow_;
};

// Waits for the process, showing its texts and handling the thread's messages: WM_QUIT's code if met first.
std::optional<int> WaitForElevatedInstance(HANDLE process, ProgressReceiver* receiver,
                                           const std::function<void(const std::string&)>& progress);

} // namespace lumoradex
