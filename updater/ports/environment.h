#pragma once
// What the handlers read of the process and its folders. Implemented over Win32 in
// system/environment_win.cpp; unit tests use fakes. Failures throw (see base/failure_rule.h).

#include <string>

namespace lumoradex {

class Environment {
public:
    virtual ~Environment() = default;

    // The text after the program's own name: empty means automatic mode.
    virtual std::string CommandLine() const = 0;
    // An ordinary file: hidden files, system files and folders count as absent; names compare
    // without regard to letter case. A bare name is resolved in the current folder.
    virtual bool OrdinaryFileExists(const std::string& path) const = 0;
    virtual std::string CurrentFolder() const = 0;
    virtual void ChangeFolder(const std::string& folder) = 0;
    virtual void ChangeDrive(const std::string& drive) = 0;
    // VersionFichier: "major.minor.revision", or "0.0.0" when no version can be read.
    virtual std::string FileVersion(const std::string& fileName) const = 0;
};

} // namespace lumoradex
