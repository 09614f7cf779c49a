#pragma once
// The file operations of an update run. Implemented over Win32 in system/installation_files_win.cpp;
// unit tests use an in-memory fake. Failures throw (see base/failure_rule.h). Bare names are resolved in
// the current folder; lengths are 64-bit.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace lumoradex {

enum class ReplaceResult {
    Replaced,
    TargetInUse, // a sharing violation or a running executable: worth trying again a moment later
};

// A file read at any offset, held so that no other program may write it while it is open.
class FileReader {
public:
    virtual ~FileReader() = default;
    virtual std::uint64_t Size() const = 0;
    // Up to size bytes at offset; fewer only at the end of the file.
    virtual std::size_t ReadAt(std::uint64_t offset, std::byte* data, std::size_t size) = 0;
};

// A new file being written from its start (or from its end, reopened), held open so that no other program may write or delete
// it until it has been renamed over its target; what it holds so far may be read back. Write throws
// when the bytes cannot be stored.
class FileWriter : public FileReader {
public:
    virtual void Write(const std::byte* data, std::size_t size) = 0;
    // Flushes every byte to the disk; the file stays open and held.
    virtual void Flush() = 0;
    // Renames the file, still open, over target in its folder (target need not exist); throws unless
    // the target is in use. The file stays held under its new name until the writer is dropped, and
    // may be renamed again.
    virtual ReplaceResult RenameOver(const std::string& target) = 0;
};

// Held while this process installs in a folder, so that no other run there clears or commits at the
// same time; released when dropped, or by the system when the process ends, however it ends.
class FolderLock {
public:
    virtual ~FolderLock() = default;
};

class InstallationFiles {
public:
    virtual ~InstallationFiles() = default;

    virtual std::int64_t Length(const std::string& path) const = 0;
    virtual void Delete(const std::string& path) = 0;
    // Creates a new file, held open: fails if anything (a file, a link) already has its name.
    virtual std::unique_ptr<FileWriter> Create(const std::string& path) = 0;
    // Opens again a file that an earlier Create made, held as Create holds it, to be written on from
    // its end: only a plain file, with no other name, not a link, opened without following one.
    // Nothing when there is no such file there (whatever else may have that name).
    virtual std::unique_ptr<FileWriter> Reopen(const std::string& path) = 0;
    // Opens an existing file to read it; others may read it meanwhile, but not write it.
    virtual std::unique_ptr<FileReader> OpenToRead(const std::string& path) = 0;
    // Copies source to destination, replacing it, with every byte flushed to the disk.
    virtual void Copy(const std::string& source, const std::string& destination) = 0;
    // Renames source over target atomically (target need not exist); throws unless the target is in use.
    virtual ReplaceResult ReplaceWith(const std::string& target, const std::string& source) = 0;
    // Gives the file a second name, aside, so that its content outlives its replacement; false when
    // there is no such file. Fails if aside is taken.
    virtual bool KeepAside(const std::string& path, const std::string& aside) = 0;
    // The bytes this process may still write on the disk that holds the folder.
    virtual std::uint64_t FreeBytes(const std::string& folder) const = 0;
    // Whether two paths name the same folder, whatever their spelling (case, short names, separator).
    virtual bool SameFolder(const std::string& first, const std::string& second) const = 0;
    // The folder's lock; nothing when another run holds it. Throws when it cannot be taken otherwise
    // (a folder missing or this process may not write).
    virtual std::unique_ptr<FolderLock> LockFolder(const std::string& folder) = 0;
};

} // namespace lumoradex
