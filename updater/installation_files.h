#pragma once
// The file operations of an update run. Implemented over Win32 in system/installation_files_win.cpp;
// unit tests use an in-memory fake. Failures throw (see failure_rule.h). Bare names are resolved in
// the current folder; lengths are 64-bit.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace lumoradex {

// A file being written from its start; Write throws when the bytes cannot be stored.
class FileWriter {
public:
    virtual ~FileWriter() = default;
    virtual void Write(const std::byte* data, std::size_t size) = 0;
    // Flushes every byte to the disk and closes the file; a writer dropped without it just closes.
    virtual void Commit() = 0;
};

enum class ReplaceResult {
    Replaced,
    TargetInUse, // a sharing violation or a running executable: worth trying again a moment later
};

class InstallationFiles {
public:
    virtual ~InstallationFiles() = default;

    virtual std::int64_t Length(const std::string& path) const = 0;
    virtual void Delete(const std::string& path) = 0;
    // Creates the file afresh (an existing one is truncated), unshared while it is written.
    virtual std::unique_ptr<FileWriter> Create(const std::string& path) = 0;
    // Copies source to destination, replacing it, with every byte flushed to the disk.
    virtual void Copy(const std::string& source, const std::string& destination) = 0;
    // Renames source over target atomically (target need not exist); throws unless the target is in use.
    virtual ReplaceResult ReplaceWith(const std::string& target, const std::string& source) = 0;
    // Whether two paths name the same folder, whatever their spelling (case, short names, separator).
    virtual bool SameFolder(const std::string& first, const std::string& second) const = 0;
};

} // namespace lumoradex
