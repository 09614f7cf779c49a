#pragma once
// What the Windows-side tests of the update installation share: a temporary folder per test, files
// in it, and fixture processes (tests/fixtures/update_install) started and ended by the test.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/unique_handle_win.h"
#include "base/wide_text_win.h"

namespace lumoradex::update_install_tests {

// The folder of the fixture programs, found from the test program's own place in the build tree.
inline std::wstring FixtureProgram(const wchar_t* name) {
    wchar_t path[MAX_PATH * 2];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    std::wstring folder(path, length);
    folder.resize(folder.find_last_of(L'\\') + 1);
    return folder + L"..\\..\\fixtures\\update_install\\" + name;
}

inline void RemoveTree(const std::wstring& folder) {
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

// A fresh folder with a long name (so that it has a distinct short name), removed with its content.
class TemporaryFolder {
public:
    TemporaryFolder() {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        static int count = 0;
        path_ = std::wstring(base) + L"Lumoradex Update Tests " + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(++count);
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    ~TemporaryFolder() { RemoveTree(path_); }

    const std::wstring& Wide() const { return path_; }
    std::string Path() const { return Narrow(path_); }
    std::string operator/(const std::string& name) const { return Path() + "\\" + name; }

private:
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

// A fixture program started by the test; it has signalled the named event passed as its first
// argument (after the ones given) before the constructor returns, and is ended with the test.
class FixtureProcess {
public:
    FixtureProcess(const std::wstring& program, const std::wstring& argumentsBeforeEvent,
                   const std::wstring& argumentsAfterEvent) {
        static int count = 0;
        const std::wstring eventName =
            L"LumoradexUpdateTests-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++count);
        UniqueKernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
        std::wstring commandLine =
            L"\"" + program + L"\" " + argumentsBeforeEvent + L" " + eventName + L" " + argumentsAfterEvent;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION information{};
        if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &information)) {
            ADD_FAILURE() << "cannot start " << Narrow(program) << " (" << GetLastError() << ")";
            return;
        }
        process_.Reset(information.hProcess);
        UniqueKernelHandle thread(information.hThread);
        pid_ = information.dwProcessId;
        const HANDLE waited[] = {ready.Get(), process_.Get()};
        if (WaitForMultipleObjects(2, waited, FALSE, 10000) != WAIT_OBJECT_0)
            ADD_FAILURE() << Narrow(program) << " did not get ready";
    }
    FixtureProcess(const FixtureProcess&) = delete;
    FixtureProcess& operator=(const FixtureProcess&) = delete;
    ~FixtureProcess() { End(); }

    DWORD Pid() const { return pid_; }
    // Ends the fixture now, if it still runs, and waits until it is gone.
    void End() {
        if (!process_)
            return;
        if (WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT)
            TerminateProcess(process_.Get(), 1);
        WaitForSingleObject(process_.Get(), 10000);
        process_.Reset();
    }
    // Waits, at most the given time, for the fixture to end by itself.
    bool WaitForExit(DWORD milliseconds) const { return WaitForSingleObject(process_.Get(), milliseconds) == 0; }

private:
    UniqueKernelHandle process_;
    DWORD pid_ = 0;
};

} // namespace lumoradex::update_install_tests
