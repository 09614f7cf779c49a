#pragma once
// A temporary folder per test, and the files a test writes and reads back in it.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/unique_handle_win.h"
#include "base/wide_text_win.h"

namespace lumoradex::win32_tests {

// A new empty folder under the temporary folder, removed with everything in it at the end. Its name
// is long and has spaces, so that it has a distinct short name.
class TemporaryFolder {
public:
    TemporaryFolder() {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        // A name that an earlier run left behind is skipped: the folder is always new and empty.
        static int count = 0;
        do {
            path_ = std::wstring(base) + L"Lumoradex Test Folder " + std::to_wstring(GetCurrentProcessId()) + L"-" +
                    std::to_wstring(++count);
        } while (!CreateDirectoryW(path_.c_str(), nullptr) && GetLastError() == ERROR_ALREADY_EXISTS);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    ~TemporaryFolder() { RemoveTree(path_); }

    const std::wstring& Wide() const { return path_; }
    std::string Path() const { return Narrow(path_); }
    std::string operator/(const std::string& name) const { return Path() + "\\" + name; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    // Read-only, hidden and system files and folders go too.
    static void RemoveTree(const std::wstring& folder) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                if (name == L"." || name == L"..")
                    continue;
                const std::wstring path = folder + L"\\" + name;
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveTree(path);
                else
                    DeleteFileW(path.c_str());
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(folder.c_str());
    }

    std::wstring path_;
};

inline void WriteFileText(const std::string& path, const std::string& text) {
    UniqueFile file(
        CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << path;
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
}

// The content of a file, or "<absent>".
inline std::string ReadFileText(const std::string& path) {
    UniqueFile file(CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return "<absent>";
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
        text.append(buffer, read);
    return text;
}

inline bool FileExists(const std::string& path) {
    return GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace lumoradex::win32_tests
