#pragma once
// Elevation over Win32: what this process may write, found by trying, and an elevated instance of
// the program (ShellExecuteEx, verb "runas") that installs the update's files on its behalf.

#include <windows.h>

#include "updater/elevation.h"

namespace lumoradex {

class Win32Elevation : public Elevation {
public:
    // progressWindow: the window that shows the elevated instance's progress; read at each use,
    // since the window fills it in once created.
    explicit Win32Elevation(const HWND& progressWindow) : progressWindow_(progressWindow) {}

    bool MayWriteIn(const std::string& folder) override;
    std::optional<bool> InstallElevated(const std::string& workingFolder) override;

private:
    void WaitShowingProgress(HANDLE process);

    const HWND& progressWindow_;
};

} // namespace lumoradex
