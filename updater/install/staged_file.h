#pragma once
// The temporary files of an installation, each an object that owns its file: held from its creation
// to its drop so that nothing else can change or open it, and removed when it is dropped unless it
// has been renamed over its target, or is kept for a later run to prove and go on with. No failure
// path removes a temporary file by hand. Platform-free.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "updater/ports/installation_files.h"

namespace lumoradex {

// A file's sibling in its folder: the prefix, then its bare name ("New", "Old").
std::string PrefixedSibling(const std::string& path, std::string_view prefix);

class TemporaryFile {
public:
    enum class WhenDropped {
        Removed,
        Kept, // what it holds is proven by the next run before anything of it is used
    };

    // Creates the file, held open; throws when it cannot, or when anything already has its name.
    TemporaryFile(InstallationFiles& files, std::string path, WhenDropped dropped = WhenDropped::Removed);
    // The file a run kept, held open again, to be written on from its end; nothing when there is no
    // plain file of that name (InstallationFiles::Reopen).
    static std::optional<TemporaryFile> Reopen(InstallationFiles& files, std::string path);
    TemporaryFile(TemporaryFile&& other) noexcept = default;
    TemporaryFile& operator=(TemporaryFile&& other) noexcept;
    // Closes the file, and removes it unless it has been renamed over its target.
    ~TemporaryFile();

    const std::string& Path() const { return path_; }
    FileWriter& Writer() const;
    // Renames the file, still held, over target; once that is done the file is the target's.
    ReplaceResult RenameOver(const std::string& target);
    // Renames a file renamed over its target back to its own name: the target's name is then free.
    ReplaceResult RenameBack();
    // Removed when dropped, kept or not: its bytes are not what they had to be.
    void Discard() { dropped_ = WhenDropped::Removed; }

private:
    TemporaryFile(InstallationFiles& files, std::string path, std::unique_ptr<FileWriter> writer);
    void Remove() noexcept;

    InstallationFiles* files_;
    std::string path_;
    std::unique_ptr<FileWriter> writer_;
    WhenDropped dropped_ = WhenDropped::Removed;
    bool renamed_ = false;
};

// One installed file's new content, staged beside it.
struct StagedFile {
    std::string name;   // the bare name, for the trace
    std::string target; // the installed file: a bare name in the working folder, a full path elsewhere
    TemporaryFile temporary;
    bool mirrorCopy = false; // the installation folder's copy of a run that works elsewhere
};

} // namespace lumoradex
