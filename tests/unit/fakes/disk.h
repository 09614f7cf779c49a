#pragma once
// The folders and their files in memory, with what the process reads of its environment: its command
// line, its current folder and its executables' versions. Each operation records what was done and
// can be told to fail. Paths are kept as they were given: a bare name is a file of the current folder,
// and names compare without regard to letter case, as the platform's do. Folders are full paths
// without a trailing separator; the current folder of each drive is kept, as the platform does, so
// that changing the drive returns to it.
// An update run does a file's disk work on a thread of its own: the disk may be used from two threads
// at once, and a test may hold the disk work at a point (beforeCommit). Tests set it up before a run.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/step_failure.h"
#include "tests/unit/fakes/failure_switch.h"
#include "updater/ports/environment.h"
#include "updater/ports/installation_files.h"

namespace lumoradex::fakes {

class FakeDisk final : public Environment, public InstallationFiles {
public:
    // --- the process's environment ---
    std::string commandLine; // empty: automatic mode
    std::string currentFolder = "C:\\";
    std::set<std::string> folders;                   // those that can be entered, in lower case
    std::map<std::string, std::string> driveFolders; // each drive's current folder, by "c:"
    std::map<std::string, std::string> versions;     // FileVersion's answers, by full path
    mutable std::vector<std::string> versionQueries; // as asked; a bare name with the folder it was read in
    std::vector<std::string> folderChanges;          // "folder <folder>" and "drive <drive>", in order
    // By operation: CommandLine, CurrentFolder, ChangeDrive, "ChangeFolder <folder>", "OrdinaryFileExists <path>".
    FailureSwitch failures;

    // --- the files ---
    std::map<std::string, std::string> files;
    bool sameFolder = false;
    // Failures to inject, by path.
    std::set<std::string> failDelete, failCreate, failCommit, failCopy, failReplace, failLength, failKeepAside,
        failOpen;
    std::set<std::string> links;                        // names that are links (Reopen refuses them), by path
    std::set<std::string> failLock;                     // LockFolder throws for these folders
    std::set<std::string> heldFolders;                  // folders whose lock a run holds, in lower case
    std::vector<std::string> lockedFolders;             // as locked, in order
    std::map<std::string, std::size_t> failWriteAfter; // bytes accepted before a write fails
    std::map<std::string, std::size_t> peakSizes;      // the most a file written by Create ever held
    std::map<std::string, int> inUseTimes;             // ReplaceWith reports the target in use this often
    std::vector<std::string> replacements;             // "target <- source", in order
    std::vector<std::string> openedToRead;             // in order
    std::vector<std::string> renamedBeforeFlush;       // sources renamed before their flush had ended
    std::vector<std::pair<std::string, std::string>> sameFolderQueries;
    std::optional<std::uint64_t> freeBytes = 1ull << 40; // nothing: the free space cannot be read
    // Set: the files as each keep-aside, rename and removal leaves them, where a kill could stop a run.
    bool recordMoments = false;
    std::vector<std::map<std::string, std::string>> moments;
    // Run inside the flush of a file written by Create, by path, before it counts as flushed.
    std::map<std::string, std::function<void()>> beforeCommit;

    void AddFile(const std::string& path) { files[path]; }
    void AddFolder(const std::string& folder) { folders.insert(Lower(folder)); }
    // The installation folder with the application in it, at the given version.
    void Install(const std::string& version) {
        AddFolder("C:\\Program Files\\LumoradexV4");
        AddFile("C:\\Program Files\\LumoradexV4\\Velmor.exe");
        versions["C:\\Program Files\\LumoradexV4\\Velmor.exe"] = version;
    }
    // Starts the program in a folder holding the application at the given version.
    void StartIn(const std::string& folder, const std::string& version) {
        AddFolder(folder);
        AddFile(folder + "\\Velmor.exe");
        versions[folder + "\\Velmor.exe"] = version;
        currentFolder = folder;
        driveFolders[Lower(folder.substr(0, 2))] = folder;
    }

    std::string CommandLine() const override {
        std::lock_guard lock(mutex_);
        failures.Check("CommandLine");
        return commandLine;
    }
    bool OrdinaryFileExists(const std::string& path) const override {
        std::lock_guard lock(mutex_);
        failures.Check("OrdinaryFileExists " + path);
        return StoredName(path).has_value();
    }
    std::string CurrentFolder() const override {
        std::lock_guard lock(mutex_);
        failures.Check("CurrentFolder");
        return currentFolder;
    }
    void ChangeFolder(const std::string& folder) override {
        std::lock_guard lock(mutex_);
        failures.Check("ChangeFolder " + folder);
        if (!folders.contains(Lower(folder)))
            throw StepFailure("ChangeFolder", 3);
        driveFolders[Lower(folder.substr(0, 2))] = folder;
        currentFolder = folder;
        folderChanges.push_back("folder " + folder);
    }
    void ChangeDrive(const std::string& drive) override {
        std::lock_guard lock(mutex_);
        failures.Check("ChangeDrive");
        const auto known = driveFolders.find(Lower(drive));
        currentFolder = known != driveFolders.end() ? known->second : drive + "\\";
        folderChanges.push_back("drive " + drive);
    }
    std::string FileVersion(const std::string& path) const override {
        std::lock_guard lock(mutex_);
        versionQueries.push_back(IsBare(path) ? path + " in " + currentFolder : path);
        const auto version = versions.find(Resolved(path));
        return version != versions.end() ? version->second : "0.0.0";
    }

    std::int64_t Length(const std::string& path) const override {
        std::lock_guard lock(mutex_);
        FailIf(failLength, path, "Length");
        return static_cast<std::int64_t>(ContentLocked(path, "Length").size());
    }
    void Delete(const std::string& path) override {
        std::lock_guard lock(mutex_);
        FailIf(failDelete, path, "Delete");
        const std::optional<std::string> stored = StoredName(path);
        if (!stored)
            throw StepFailure("Delete", 2);
        files.erase(*stored);
        links.erase(*stored);
        RecordMomentLocked();
    }
    std::unique_ptr<FileWriter> Create(const std::string& path) override;
    std::unique_ptr<FileWriter> Reopen(const std::string& path) override;
    std::unique_ptr<FileReader> OpenToRead(const std::string& path) override;
    // Flushed, as the interface promises.
    void Copy(const std::string& source, const std::string& destination) override {
        std::lock_guard lock(mutex_);
        FailIf(failCopy, destination, "Copy");
        PutLocked(destination, ContentLocked(source, "Copy"));
        flushed_.insert(destination);
    }
    ReplaceResult ReplaceWith(const std::string& target, const std::string& source) override {
        std::lock_guard lock(mutex_);
        return RenameLocked(target, source);
    }
    bool KeepAside(const std::string& path, const std::string& aside) override {
        std::lock_guard lock(mutex_);
        FailIf(failKeepAside, path, "KeepAside");
        if (!StoredName(path))
            return false;
        if (StoredName(aside))
            throw StepFailure("KeepAside " + aside, 183);
        files[aside] = ContentLocked(path, "KeepAside");
        RecordMomentLocked();
        return true;
    }
    std::uint64_t FreeBytes(const std::string& folder) const override {
        if (!freeBytes)
            throw StepFailure("FreeBytes of " + folder, 21);
        return *freeBytes;
    }
    // Held by a lock of this disk, or by another run's (heldFolders), in lower case.
    std::unique_ptr<FolderLock> LockFolder(const std::string& folder) override {
        std::lock_guard lock(mutex_);
        FailIf(failLock, folder, "LockFolder");
        if (!heldFolders.insert(Lower(folder)).second)
            return nullptr;
        lockedFolders.push_back(folder);
        return std::make_unique<Lock>(*this, Lower(folder));
    }
    bool SameFolder(const std::string& first, const std::string& second) const override {
        std::lock_guard lock(mutex_);
        const_cast<FakeDisk*>(this)->sameFolderQueries.emplace_back(first, second);
        return sameFolder;
    }

private:
    friend class FakeWriter;
    friend class FakeReader;

    static bool IsBare(const std::string& path) { return path.find('\\') == std::string::npos; }
    static std::string Lower(std::string text) {
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return text;
    }
    static void FailIf(const std::set<std::string>& failing, const std::string& path, const char* operation) {
        if (failing.contains(path))
            throw StepFailure(operation, 5);
    }

    std::string Resolved(const std::string& path) const {
        if (!IsBare(path))
            return path;
        return currentFolder.ends_with('\\') ? currentFolder + path : currentFolder + "\\" + path;
    }
    // The name the file a path names is kept under, whatever the spelling of either.
    std::optional<std::string> StoredName(const std::string& path) const {
        if (files.contains(path))
            return path;
        const std::string wanted = Lower(Resolved(path));
        for (const auto& file : files)
            if (Lower(Resolved(file.first)) == wanted)
                return file.first;
        return std::nullopt;
    }

    class Lock final : public FolderLock {
    public:
        Lock(FakeDisk& disk, std::string folder) : disk_(disk), folder_(std::move(folder)) {}
        ~Lock() override {
            std::lock_guard lock(disk_.mutex_);
            disk_.heldFolders.erase(folder_);
        }

    private:
        FakeDisk& disk_;
        std::string folder_;
    };

    // Those ending in Locked are called with the lock held.
    void RecordMomentLocked() {
        if (recordMoments)
            moments.push_back(files);
    }
    const std::string& ContentLocked(const std::string& path, const char* operation) const {
        const std::optional<std::string> stored = StoredName(path);
        if (!stored)
            throw StepFailure(std::string(operation) + " " + path, 2);
        return files.at(*stored);
    }
    std::string& ContentLocked(const std::string& path, const char* operation) {
        return const_cast<std::string&>(std::as_const(*this).ContentLocked(path, operation));
    }
    // The file the path names holds the content now, under the name as given.
    void PutLocked(const std::string& path, std::string content) {
        if (const std::optional<std::string> stored = StoredName(path))
            files.erase(*stored);
        files[path] = std::move(content);
    }
    ReplaceResult RenameLocked(const std::string& target, const std::string& source) {
        FailIf(failReplace, target, "ReplaceWith");
        if (auto inUse = inUseTimes.find(target); inUse != inUseTimes.end() && inUse->second > 0) {
            --inUse->second;
            return ReplaceResult::TargetInUse;
        }
        if (!flushed_.contains(source))
            renamedBeforeFlush.push_back(source);
        std::string content = ContentLocked(source, "ReplaceWith");
        files.erase(*StoredName(source));
        PutLocked(target, std::move(content));
        replacements.push_back(target + " <- " + source);
        RecordMomentLocked();
        return ReplaceResult::Replaced;
    }

    std::size_t ReadFrom(const std::string& path, std::uint64_t offset, std::byte* data, std::size_t size) const {
        std::lock_guard lock(mutex_);
        const std::string& content = ContentLocked(path, "ReadFile");
        if (offset >= content.size())
            return 0;
        const std::size_t count = std::min<std::size_t>(size, content.size() - offset);
        std::memcpy(data, content.data() + offset, count);
        return count;
    }
    std::uint64_t SizeOf(const std::string& path) const {
        std::lock_guard lock(mutex_);
        return ContentLocked(path, "GetFileSizeEx").size();
    }

    mutable std::mutex mutex_;
    std::set<std::string> flushed_; // files whose every byte is on the disk
};

class FakeWriter final : public FileWriter {
public:
    FakeWriter(FakeDisk& disk, std::string path) : disk_(disk), path_(std::move(path)) {}
    void Write(const std::byte* data, std::size_t size) override {
        std::lock_guard lock(disk_.mutex_);
        std::string& content = disk_.ContentLocked(path_, "WriteFile");
        if (auto limit = disk_.failWriteAfter.find(path_);
            limit != disk_.failWriteAfter.end() && content.size() + size > limit->second) {
            content.append(reinterpret_cast<const char*>(data), limit->second - content.size());
            throw StepFailure("WriteFile", 112);
        }
        content.append(reinterpret_cast<const char*>(data), size);
        disk_.peakSizes[path_] = std::max(disk_.peakSizes[path_], content.size());
    }
    void Flush() override {
        std::function<void()> hold;
        {
            std::lock_guard lock(disk_.mutex_);
            if (disk_.failCommit.contains(path_))
                throw StepFailure("FlushFileBuffers", 5);
            if (auto found = disk_.beforeCommit.find(path_); found != disk_.beforeCommit.end())
                hold = found->second;
        }
        if (hold)
            hold();
        std::lock_guard lock(disk_.mutex_);
        disk_.flushed_.insert(path_);
    }
    ReplaceResult RenameOver(const std::string& target) override {
        std::lock_guard lock(disk_.mutex_);
        const ReplaceResult result = disk_.RenameLocked(target, path_);
        if (result == ReplaceResult::Replaced) {
            disk_.flushed_.insert(target);
            path_ = target;
        }
        return result;
    }
    std::uint64_t Size() const override { return disk_.SizeOf(path_); }
    std::size_t ReadAt(std::uint64_t offset, std::byte* data, std::size_t size) override {
        return disk_.ReadFrom(path_, offset, data, size);
    }

private:
    FakeDisk& disk_;
    std::string path_;
};

class FakeReader final : public FileReader {
public:
    FakeReader(const FakeDisk& disk, std::string path) : disk_(disk), path_(std::move(path)) {}
    std::uint64_t Size() const override { return disk_.SizeOf(path_); }
    std::size_t ReadAt(std::uint64_t offset, std::byte* data, std::size_t size) override {
        return disk_.ReadFrom(path_, offset, data, size);
    }

private:
    const FakeDisk& disk_;
    std::string path_;
};

inline std::unique_ptr<FileReader> FakeDisk::OpenToRead(const std::string& path) {
    std::lock_guard lock(mutex_);
    FailIf(failOpen, path, "OpenToRead");
    if (!StoredName(path))
        throw StepFailure("OpenToRead " + path, 2);
    openedToRead.push_back(path);
    return std::make_unique<FakeReader>(*this, path);
}

// A new file only, as the real one: whatever has the name already is never opened.
inline std::unique_ptr<FileWriter> FakeDisk::Create(const std::string& path) {
    std::lock_guard lock(mutex_);
    FailIf(failCreate, path, "Create");
    if (StoredName(path))
        throw StepFailure("Create " + path, 80);
    files[path].clear();
    flushed_.erase(path);
    return std::make_unique<FakeWriter>(*this, path);
}

inline std::unique_ptr<FileWriter> FakeDisk::Reopen(const std::string& path) {
    std::lock_guard lock(mutex_);
    FailIf(failOpen, path, "Reopen");
    if (!StoredName(path) || links.contains(path))
        return nullptr;
    flushed_.erase(path);
    return std::make_unique<FakeWriter>(*this, path);
}

} // namespace lumoradex::fakes
