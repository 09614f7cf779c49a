#pragma once
// The temporary files of an installation, each an object that owns its file: held from its creation
// so that nothing else can change it, and removed when it is dropped unless it has been renamed over
// its target. No failure path removes a temporary file by hand. Platform-free.

#include <memory>
#include <string>
#include <string_view>

#include "updater/ports/installation_files.h"

namespace lumoradex {

// A file's sibling in its folder: the prefix, then its bare name ("New", "Old").
std::string PrefixedSibling(const std::string& path, std::string_view prefix);

class TemporaryFile {
public:
    // Creates the file, held open; throws when it cannot, or when anything already has its name.
    TemporaryFile(InstallationFiles& files, std::string path);
    TemporaryFile(TemporaryFile&& other) noexcept = default;
    TemporaryFile& operator=(TemporaryFile&& other) noexcept;
    // Closes and removes the file unless it has been renamed.
    ~TemporaryFile();

    const std::string& Path() const { return path_; }
    // Throws once the file has been renamed.
    FileWriter& Writer() const;
    // Renames the file, still held, over target; once that is done the file is the target's.
    ReplaceResult RenameOver(const std::string& target);

private:
    void Remove() noexcept;

    InstallationFiles* files_;
    std::string path_;
    std::unique_ptr<FileWriter> writer_;
};

// One installed file's new content, staged beside it.
struct StagedFile {
    std::string name;   // the bare name, for the trace
    std::string target; // the installed file: a bare name in the working folder, a full path elsewhere
    TemporaryFile temporary;
    bool mirrorCopy = false; // the installation folder's copy of a run that works elsewhere
};

} // namespace lumoradex
