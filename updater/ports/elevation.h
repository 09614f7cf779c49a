#pragma once
// Who writes the update's files: this process where it may, else an elevated instance of the
// updater that installs them and nothing else. Implemented over Win32 in system/elevation_win.cpp;
// unit tests use a fake. Failures throw (see base/failure_rule.h).

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace lumoradex {

class Elevation {
public:
    virtual ~Elevation() = default;
    // Whether this process may create files in the folder, and replace and delete those named.
    virtual bool MayWriteIn(const std::string& folder, std::span<const std::string_view> names) = 0;
    // The window where an elevated instance shows its progress, as a number for its command line.
    virtual std::uintptr_t ProgressWindow() const = 0;
    // Asks Windows, once, for an elevated instance of the program at that full path with the
    // arguments, and waits for its end, handing each progress text it sends to progress. Its exit
    // code; nothing when the user or Windows declined, and nothing started.
    virtual std::optional<int> RunElevated(const std::string& program, const std::string& arguments,
                                           const std::function<void(const std::string&)>& progress) = 0;
};

} // namespace lumoradex
