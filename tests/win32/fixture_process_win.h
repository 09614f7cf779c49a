#pragma once
// Windows-side tests that run the fixture programs (tests/fixtures): where they are, a started
// fixture that is ended with the test, and its log read back.

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "base/wide_text_win.h"

namespace lumoradex::win32_tests {

// The build tree: win32_tests.exe lies in <build>\tests\win32.
inline std::wstring BuildFolder() {
    wchar_t exe[MAX_PATH * 2];
    const DWORD length = GetModuleFileNameW(nullptr, exe, static_cast<DWORD>(std::size(exe)));
    std::wstring folder(exe, length);
    folder.resize(folder.find_last_of(L'\\'));
    return folder + L"\\..\\..";
}

// A file of the build tree's fixtures folder, <build>\fixtures.
inline std::wstring FixturePath(const std::wstring& relative) {
    return BuildFolder() + L"\\fixtures\\" + relative;
}

// A fixture program started by the test, terminated at the end of the test if it still runs.
class FixtureProcess {
public:
    // Started with the arguments, in the folder (the test's own when empty), with the show state.
    FixtureProcess(const std::wstring& program, const std::wstring& arguments, const std::wstring& folder = {},
                   WORD showState = SW_SHOWNORMAL)
        : FixtureProcess(program, arguments, folder, StartupShowing(showState)) {}
    // A fixture of tests/fixtures/update_install, given an event to set once ready between two parts
    // of its arguments: returned once it has set it.
    static FixtureProcess StartReady(const std::wstring& program, const std::wstring& argumentsBeforeEvent,
                                     const std::wstring& argumentsAfterEvent) {
        static int count = 0;
        const std::wstring eventName =
            L"LumoradexTests-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++count);
        UniqueKernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
        STARTUPINFOW startup{}; // no show state to override the one titled_windows.exe asks for
        startup.cb = sizeof startup;
        FixtureProcess fixture(program, argumentsBeforeEvent + L" " + eventName + L" " + argumentsAfterEvent, {},
                               startup);
        const HANDLE waited[] = {ready.Get(), fixture.process_.Get()};
        if (fixture.Started() && WaitForMultipleObjects(2, waited, FALSE, 10000) != WAIT_OBJECT_0)
            ADD_FAILURE() << Narrow(program) << " did not get ready";
        return fixture;
    }
    FixtureProcess(FixtureProcess&&) noexcept = default;
    FixtureProcess& operator=(FixtureProcess&&) = delete;
    ~FixtureProcess() { End(); }

    bool Started() const { return static_cast<bool>(process_); }
    DWORD Id() const { return id_; }
    bool Running() const { return process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT; }
    // Waits, at most the given time, for the fixture to end by itself.
    bool WaitForExit(DWORD milliseconds) const {
        return process_ && WaitForSingleObject(process_.Get(), milliseconds) == WAIT_OBJECT_0;
    }
    // Ends the fixture now, if it still runs, and waits until it is gone.
    void End() {
        if (!process_)
            return;
        if (Running())
            TerminateProcess(process_.Get(), 1);
        WaitForSingleObject(process_.Get(), 10000);
        process_.Reset();
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

    FixtureProcess(const std::wstring& program, const std::wstring& arguments, const std::wstring& folder,
                   STARTUPINFOW startup) {
        std::wstring commandLine = L"\"" + program + L"\" " + arguments;
        PROCESS_INFORMATION started{};
        if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            folder.empty() ? nullptr : folder.c_str(), &startup, &started)) {
            ADD_FAILURE() << "cannot start " << Narrow(program) << " (" << GetLastError() << ")";
            return;
        }
        process_.Reset(started.hProcess);
        CloseHandle(started.hThread);
        id_ = started.dwProcessId;
    }
    static STARTUPINFOW StartupShowing(WORD showState) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = showState;
        return startup;
    }

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

// file_holder.exe (tests/fixtures/update_install) holding the file without sharing, for the given time.
inline FixtureProcess HoldWithoutSharing(const std::string& path, int milliseconds) {
    return FixtureProcess::StartReady(FixturePath(L"update_install\\file_holder.exe"), L"",
                                      std::to_wstring(milliseconds) + L" \"" + Widen(path) + L"\"");
}

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

} // namespace lumoradex::win32_tests
