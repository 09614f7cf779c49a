#pragma once
// Who writes the update's files: this process where it may, else an elevated instance of the
// updater that installs them and nothing else. Implemented over Win32 in system/elevation_win.cpp;
// unit tests use a fake. Failures throw (see failure_rule.h).

#include <optional>
#include <string>

namespace lumoradex {

class Elevation {
public:
    virtual ~Elevation() = default;
    // Whether this process may create, replace and delete the update's files in the folder.
    virtual bool MayWriteIn(const std::string& folder) = 0;
    // Asks Windows, once, for an elevated instance that installs the update's files in the working
    // folder while this window shows its progress, and waits for its end. Whether every file went
    // well; nothing when the user or Windows declined, and nothing was changed.
    virtual std::optional<bool> InstallElevated(const std::string& workingFolder) = 0;
};

} // namespace lumoradex
