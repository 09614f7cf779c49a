#pragma once
// The process environment of the handlers over Win32: command line, files, folders, versions.

#include "updater/ports/environment.h"

namespace lumoradex {

class Win32Environment final : public Environment {
public:
    std::string CommandLine() const override;
    bool OrdinaryFileExists(const std::string& path) const override;
    std::string CurrentFolder() const override;
    void ChangeFolder(const std::string& folder) override;
    void ChangeDrive(const std::string& drive) override;
    std::string FileVersion(const std::string& fileName) const override;
};

} // namespace lumoradex
