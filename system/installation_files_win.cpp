#include "system/installation_files_win.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "base/unique_handle_win.h"
#include "base/wide_text_win.h"
#include "base/win32_error_win.h"

namespace lumoradex {
namespace {

// The other process may be a running executable: Windows and Wine refuse to delete or overwrite
// it with "access denied", as they do for a read-only file or a folder, which never frees itself.
bool TargetInUse(const std::string& target, DWORD code) {
    if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION)
        return true;
    if (code != ERROR_ACCESS_DENIED)
        return false;
    const DWORD attributes = GetFileAttributesW(Widen(target).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

std::wstring FullPath(const std::string& path) {
    const std::wstring relative = Widen(path);
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFullPathNameW(relative.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0)
            ThrowLastError("GetFullPathNameW");
        if (length < full.size()) {
            full.resize(length);
            return full;
        }
        full.resize(length);
    }
}

OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return position;
}

std::uint64_t SizeOf(HANDLE file) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size))
        ThrowLastError("GetFileSizeEx");
    return static_cast<std::uint64_t>(size.QuadPart);
}

// Positioned reads, so that reading never moves where the file is written. A read past the end
// succeeds with nothing (ERROR_HANDLE_EOF on some systems).
std::size_t ReadFileAt(HANDLE file, std::uint64_t offset, std::byte* data, std::size_t size) {
    std::size_t total = 0;
    while (total < size) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size - total, 1u << 30));
        OVERLAPPED position = At(offset + total);
        DWORD read = 0;
        if (!ReadFile(file, data + total, piece, &read, &position)) {
            const DWORD code = GetLastError();
            if (code == ERROR_HANDLE_EOF)
                break;
            throw Win32Error("ReadFile", code);
        }
        if (read == 0)
            break;
        total += read;
    }
    return total;
}

// An installed file is read while the application may be running it: the loader's own opening
// shares reading and deletion, and so must this one. Nobody may write it while it is read.
class Win32FileReader final : public FileReader {
public:
    explicit Win32FileReader(UniqueFile file) : file_(std::move(file)) {}
    std::uint64_t Size() const override { return SizeOf(file_.Get()); }
    std::size_t ReadAt(std::uint64_t offset, std::byte* data, std::size_t size) override {
        return ReadFileAt(file_.Get(), offset, data, size);
    }

private:
    UniqueFile file_;
};

// The file is held from its creation to its rename with no sharing at all: between the check of the
// bytes written and the rename, no other program can change them, delete the file or put another
// under its name.
class Win32FileWriter final : public FileWriter {
public:
    explicit Win32FileWriter(UniqueFile file, std::uint64_t written = 0) : file_(std::move(file)), written_(written) {}

    void Write(const std::byte* data, std::size_t size) override {
        while (size > 0) {
            const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
            OVERLAPPED position = At(written_);
            DWORD written = 0;
            if (!WriteFile(file_.Get(), data, piece, &written, &position))
                ThrowLastError("WriteFile");
            if (written == 0)
                throw Win32Error("WriteFile", ERROR_WRITE_FAULT);
            data += written;
            size -= written;
            written_ += written;
        }
    }
    std::uint64_t Size() const override { return written_; }
    std::size_t ReadAt(std::uint64_t offset, std::byte* data, std::size_t size) override {
        return ReadFileAt(file_.Get(), offset, data, size);
    }

    // The file is flushed before it may be renamed over an installed one: after a crash of the
    // system the new name must not point at bytes that never reached the disk.
    void Flush() override {
        if (!FlushFileBuffers(file_.Get()))
            ThrowLastError("FlushFileBuffers");
    }

    // A rename through the handle, to the target's full path (a bare name would be taken from the
    // current folder by some systems, the file's own folder by others). Flushing once more commits
    // the rename itself to the disk. The handle stays open: under its new name the file is still
    // shared with no one, so no other program can open it and keep it from being renamed away again.
    ReplaceResult RenameOver(const std::string& target) override {
        const std::wstring path = FullPath(target);
        // Windows refuses to replace a read-only file by a rename; Wine does not, so it is refused here.
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
            throw Win32Error("SetFileInformationByHandle", ERROR_ACCESS_DENIED);
        const DWORD nameBytes = static_cast<DWORD>(path.size() * sizeof(wchar_t));
        std::vector<std::byte> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
        auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        rename->ReplaceIfExists = TRUE;
        rename->RootDirectory = nullptr;
        rename->FileNameLength = nameBytes;
        std::memcpy(rename->FileName, path.data(), nameBytes);
        if (!SetFileInformationByHandle(file_.Get(), FileRenameInfo, rename, static_cast<DWORD>(buffer.size()))) {
            const DWORD code = GetLastError();
            if (TargetInUse(target, code))
                return ReplaceResult::TargetInUse;
            throw Win32Error("SetFileInformationByHandle", code);
        }
        Flush();
        return ReplaceResult::Replaced;
    }

private:
    UniqueFile file_;
    std::uint64_t written_ = 0;
};

UniqueFile OpenForWriting(const std::string& path, DWORD access, DWORD disposition) {
    UniqueFile file(CreateFileW(Widen(path).c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        ThrowLastError("CreateFileW");
    return file;
}

struct FolderIdentity {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
    bool operator==(const FolderIdentity&) const = default;
};

// Nothing when the folder does not exist. A folder opens only with backup semantics; no access
// right is needed to read its identity, and every sharing mode leaves it free for others.
std::optional<FolderIdentity> IdentityOf(const std::string& folder) {
    UniqueFile handle(CreateFileW(Widen(folder).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return std::nullopt;
        throw Win32Error("CreateFileW", code);
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle.Get(), &information))
        ThrowLastError("GetFileInformationByHandle");
    return FolderIdentity{information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
}

} // namespace

std::int64_t Win32InstallationFiles::Length(const std::string& path) const {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Widen(path).c_str(), GetFileExInfoStandard, &data))
        ThrowLastError("GetFileAttributesExW");
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

void Win32InstallationFiles::Delete(const std::string& path) {
    if (!DeleteFileW(Widen(path).c_str()))
        ThrowLastError("DeleteFileW");
}

// A new file only: whatever already has the name, a file or a link to another one planted there, is
// never opened, so no write can be redirected. Unshared while it is written, so no other program
// reads a half-written file; the right to delete it is the right to rename it.
std::unique_ptr<FileWriter> Win32InstallationFiles::Create(const std::string& path) {
    return std::make_unique<Win32FileWriter>(OpenForWriting(path, GENERIC_READ | GENERIC_WRITE | DELETE, CREATE_NEW));
}

// Another program may have put anything under the name: a link to a file it cannot write itself
// (a second name, a symbolic link, a junction) must never be written through. The name itself is
// opened, unshared, and only a plain file with this one name is written on: from then on nothing
// can be linked to it, swapped under it or changed, as with a new file.
std::unique_ptr<FileWriter> Win32InstallationFiles::Reopen(const std::string& path) {
    UniqueFile file(CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return nullptr;
        throw Win32Error("CreateFileW", code);
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file.Get(), &information))
        ThrowLastError("GetFileInformationByHandle");
    if ((information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
        information.nNumberOfLinks != 1)
        return nullptr;
    const std::uint64_t size = SizeOf(file.Get());
    return std::make_unique<Win32FileWriter>(std::move(file), size);
}

std::unique_ptr<FileReader> Win32InstallationFiles::OpenToRead(const std::string& path) {
    UniqueFile file(CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        ThrowLastError("CreateFileW");
    return std::make_unique<Win32FileReader>(std::move(file));
}

void Win32InstallationFiles::Copy(const std::string& source, const std::string& destination) {
    if (!CopyFileW(Widen(source).c_str(), Widen(destination).c_str(), FALSE))
        ThrowLastError("CopyFileW");
    UniqueFile copy = OpenForWriting(destination, GENERIC_WRITE, OPEN_EXISTING);
    if (!FlushFileBuffers(copy.Get()))
        ThrowLastError("FlushFileBuffers");
}

// One rename within the folder replaces the target: there is no moment without it, and a write-
// through rename is on the disk when the call returns.
ReplaceResult Win32InstallationFiles::ReplaceWith(const std::string& target, const std::string& source) {
    if (MoveFileExW(Widen(source).c_str(), Widen(target).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return ReplaceResult::Replaced;
    const DWORD code = GetLastError();
    if (TargetInUse(target, code))
        return ReplaceResult::TargetInUse;
    throw Win32Error("MoveFileExW", code);
}

// A hard link: nothing is copied, and the old content stays whole however the name is replaced. A
// volume without hard links (FAT) gets a flushed copy instead.
bool Win32InstallationFiles::KeepAside(const std::string& path, const std::string& aside) {
    const std::wstring existing = Widen(path);
    const std::wstring second = Widen(aside);
    if (CreateHardLinkW(second.c_str(), existing.c_str(), nullptr))
        return true;
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
        return false;
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS || code == ERROR_ACCESS_DENIED ||
        code == ERROR_SHARING_VIOLATION)
        throw Win32Error("CreateHardLinkW", code);
    Copy(path, aside);
    return true;
}

std::uint64_t Win32InstallationFiles::FreeBytes(const std::string& folder) const {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(Widen(folder).c_str(), &available, nullptr, nullptr))
        ThrowLastError("GetDiskFreeSpaceExW");
    return available.QuadPart;
}

// Spellings differ (letter case, 8.3 short names, a trailing separator, another path to the same
// place), identities do not: the volume's serial number and the folder's file index.
bool Win32InstallationFiles::SameFolder(const std::string& first, const std::string& second) const {
    const std::optional<FolderIdentity> one = IdentityOf(first);
    const std::optional<FolderIdentity> other = IdentityOf(second);
    return one && other && *one == *other;
}

namespace {

class Win32FolderLock final : public FolderLock {
public:
    explicit Win32FolderLock(UniqueFile file) : file_(std::move(file)) {}

private:
    UniqueFile file_;
};

} // namespace

// The lock is a file of the folder opened shared with no one and deleted with its last handle: the
// system closes it when the process ends, killed or not, so no lock outlives its run; one left by a
// crash of the system is opened again, since nobody holds it.
std::unique_ptr<FolderLock> Win32InstallationFiles::LockFolder(const std::string& folder) {
    const std::wstring path = Widen(folder + (folder.ends_with('\\') ? "" : "\\") + "MAJLumoradex.lock");
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!file) {
        const DWORD code = GetLastError();
        if (code == ERROR_SHARING_VIOLATION)
            return nullptr;
        throw Win32Error("CreateFileW", code);
    }
    return std::make_unique<Win32FolderLock>(std::move(file));
}

} // namespace lumoradex
