#pragma once
// Windows-side tests that run the fixture programs (tests/fixtures): where they are, a scratch
// folder, a started fixture that is ended with the test, and its log read back.

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "base/wide_text_win.h"

namespace lumoradex::fixtures {

// The build tree's fixtures folder: win32_tests.exe lies in <build>\tests\win32, the fixtures in <build>\fixtures.
inline std::wstring FixturePath(const std::wstring& relative) {
    wchar_t exe[MAX_PATH * 2];
    DWORD length = GetModuleFileNameW(nullptr, exe, static_cast<DWORD>(std::size(exe)));
    std::wstring folder(exe, length);
    folder.resize(folder.find_last_of(L'\\'));
    return folder + L"\\..\\..\\fixtures\\" + relative;
}

// A new empty folder under the temporary folder, deleted with everything in it at the end.
class ScratchFolder {
public:
    ScratchFolder() {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        path_ = std::wstring(temp) + L"lumoradex-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(counter_++);
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder() { RemoveTree(path_); }

    const std::wstring& Path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    static void RemoveTree(const std::wstring& folder) {
        WIN32_FIND_DATAW entry;
        HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = entry.cFileName;
                if (name == L"." || name == L"..")
                    continue;
                const std::wstring path = folder + L"\\" + name;
                if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                    RemoveTree(path);
                } else {
                    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                    DeleteFileW(path.c_str());
                }
            } while (FindNextFileW(search, &entry));
            FindClose(search);
        }
        RemoveDirectoryW(folder.c_str());
    }

    static inline int counter_ = 0;
    std::wstring path_;
};

// A fixture program started with a command line, a current folder and a show state; terminated at
// the end of the test if it still runs.
class FixtureProcess {
public:
    FixtureProcess(const std::wstring& program, const std::wstring& arguments, const std::wstring& folder,
                   WORD showState = SW_SHOWNORMAL) {
        std::wstring commandLine = L"\"" + program + L"\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = showState;
        PROCESS_INFORMATION started{};
        if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                           &startup, &started)) {
            process_.Reset(started.hProcess);
            CloseHandle(started.hThread);
            id_ = started.dwProcessId;
        }
    }
    FixtureProcess(const FixtureProcess&) = delete;
    FixtureProcess& operator=(const FixtureProcess&) = delete;
    ~FixtureProcess() {
        if (process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.Get(), 1);
            WaitForSingleObject(process_.Get(), 5000);
        }
    }

    bool Started() const { return static_cast<bool>(process_); }
    DWORD Id() const { return id_; }
    bool Running() const { return process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT; }
    bool WaitForExit(DWORD milliseconds) const {
        return process_ && WaitForSingleObject(process_.Get(), milliseconds) == WAIT_OBJECT_0;
    }

    // The process's top-level windows with this exact title, hidden ones included, once at least
    // `count` exist (polled until the time-out); fewer when the time-out passes.
    std::vector<HWND> WaitForWindows(const std::wstring& title, size_t count, DWORD milliseconds) const {
        const DWORD start = GetTickCount();
        for (;;) {
            std::vector<HWND> windows = Windows(title);
            if (windows.size() >= count || GetTickCount() - start >= milliseconds)
                return windows;
            Sleep(20);
        }
    }

private:
    struct Search {
        DWORD id;
        const std::wstring* title;
        std::vector<HWND> found;
    };

    static BOOL CALLBACK Collect(HWND window, LPARAM context) {
        auto* search = reinterpret_cast<Search*>(context);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        wchar_t text[512];
        const int length = GetWindowTextW(window, text, static_cast<int>(std::size(text)));
        if (owner == search->id && std::wstring(text, static_cast<size_t>(length)) == *search->title)
            search->found.push_back(window);
        return TRUE;
    }

    std::vector<HWND> Windows(const std::wstring& title) const {
        Search search{id_, &title, {}};
        EnumWindows(Collect, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    UniqueKernelHandle process_;
    DWORD id_ = 0;
};

// One record of a fixture log (tests/fixtures/common/record_line_win.h): "kind" plus its fields.
using FixtureRecord = std::map<std::string, std::string>;

inline std::vector<FixtureRecord> ReadFixtureLog(const std::wstring& path) {
    std::vector<FixtureRecord> records;
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return records;
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
        text.append(buffer, read);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        FixtureRecord record;
        size_t field = start;
        bool first = true;
        while (field <= end) {
            size_t next = text.find('\t', field);
            if (next == std::string::npos || next > end)
                next = end;
            const std::string part = text.substr(field, next - field);
            if (first)
                record["kind"] = part;
            else if (size_t equals = part.find('='); equals != std::string::npos)
                record[part.substr(0, equals)] = part.substr(equals + 1); // escapes (%25, %09...) left as they are
            first = false;
            field = next + 1;
        }
        records.push_back(record);
        start = end + 1;
    }
    return records;
}

} // namespace lumoradex::fixtures
