#pragma once
// Under Xvfb no window manager runs, and Wine's X11 driver waits for one before it hides a window
// it has shown: 2 s, every time, at the re-check of an automatic run (the offer's window is closed
// there). A user's desktop has a window manager that answers at once, and Windows has no such wait.
// While an UnmanagedWindows lives, Wine hands the session's windows to no window manager, so that
// it waits for none. Only programs started from then on are affected.

#include <string>
#include <vector>

#include "tests/e2e/wine_session.h"

namespace lumoradex::e2e {

class UnmanagedWindows {
public:
    explicit UnmanagedWindows(const WineSession& session);
    UnmanagedWindows(const UnmanagedWindows&) = delete;
    UnmanagedWindows& operator=(const UnmanagedWindows&) = delete;
    ~UnmanagedWindows();

private:
    void Registry(std::vector<std::string> arguments) const;

    const WineSession& session_;
};

} // namespace lumoradex::e2e
