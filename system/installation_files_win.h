#pragma once
// The installation files of an update run over Win32: new temporary files held unshared from their
// creation to their rename over the target, flushed; replacements by an atomic rename, folders
// recognised by identity. Failures throw Win32Error.

#include "updater/ports/installation_files.h"

namespace lumoradex {

class Win32InstallationFiles final : public InstallationFiles {
public:
    std::int64_t Length(const std::string& path) const override;
    void Delete(const std::string& path) override;
    std::unique_ptr<FileWriter> Create(const std::string& path) override;
    std::unique_ptr<FileWriter> Reopen(const std::string& path) override;
    std::unique_ptr<FileReader> OpenToRead(const std::string& path) override;
    void Copy(const std::string& source, const std::string& destination) override;
    ReplaceResult ReplaceWith(const std::string& target, const std::string& source) override;
    bool KeepAside(const std::string& path, const std::string& aside) override;
    std::uint64_t FreeBytes(const std::string& folder) const override;
    bool SameFolder(const std::string& first, const std::string& second) const override;
    std::unique_ptr<FolderLock> LockFolder(const std::string& folder) override;
};

} // namespace lumoradex
