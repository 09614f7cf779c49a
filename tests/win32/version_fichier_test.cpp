#include "system/version_fichier_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "base/wide_text_win.h"

namespace lumoradex {
namespace {

// The build tree, from this program's place in it (tests/win32/win32_tests.exe).
std::wstring BuildFolder() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    folder.resize(folder.find_last_of(L'\\'));
    return folder + L"\\..\\..";
}

std::wstring Velmor(const wchar_t* version) {
    return BuildFolder() + L"\\fixtures\\velmor\\" + version + L"\\Velmor.exe";
}

class ScratchFolder {
public:
    explicit ScratchFolder(const wchar_t* name) {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        path_ = std::wstring(temp) + L"lumoradex-version-" + name + L"-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder() {
        for (const std::wstring& file : files_)
            DeleteFileW(file.c_str());
        RemoveDirectoryW(path_.c_str());
    }

    std::wstring Add(const std::wstring& source, const wchar_t* name) {
        files_.push_back(path_ + L"\\" + name);
        EXPECT_TRUE(CopyFileW(source.c_str(), files_.back().c_str(), FALSE)) << Narrow(source);
        return files_.back();
    }
    std::wstring AddText(const wchar_t* name, const char* text) {
        files_.push_back(path_ + L"\\" + name);
        UniqueFile file(CreateFileW(files_.back().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(file.Get(), text, static_cast<DWORD>(strlen(text)), &written, nullptr));
        return files_.back();
    }
    const std::wstring& Path() const { return path_; }

private:
    std::wstring path_;
    std::vector<std::wstring> files_;
};

struct RunResult {
    DWORD exitCode = 0;
    std::string output;
};

// Runs a program to its end (30 s at most) in the given current folder, with its standard output.
RunResult RunToEnd(const std::wstring& program, const std::wstring& arguments, const std::wstring& folder) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    EXPECT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherit, 0));
    UniqueKernelHandle reader(readEnd);
    UniqueKernelHandle writer(writeEnd);
    SetHandleInformation(reader.Get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writer.Get();
    startup.hStdError = writer.Get();
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    RunResult result;
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(),
                        &startup, &process)) {
        ADD_FAILURE() << "CreateProcessW " << GetLastError();
        return result;
    }
    UniqueKernelHandle processHandle(process.hProcess);
    UniqueKernelHandle thread(process.hThread);
    writer.Reset();
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(reader.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
        result.output.append(buffer, read);
    EXPECT_EQ(WaitForSingleObject(processHandle.Get(), 30000), WAIT_OBJECT_0);
    GetExitCodeProcess(processHandle.Get(), &result.exitCode);
    return result;
}

// Runs a windowed program to its end (30 s at most) without handing it any handle: the first window
// of a Wine session may start Wine's desktop process, which would keep an inherited pipe open.
DWORD ExitCodeOf(const std::wstring& program, const std::wstring& folder) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + program + L"\"";
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &process)) {
        ADD_FAILURE() << "CreateProcessW " << GetLastError();
        return ~0u;
    }
    UniqueKernelHandle processHandle(process.hProcess);
    UniqueKernelHandle thread(process.hThread);
    DWORD exitCode = ~0u;
    if (WaitForSingleObject(processHandle.Get(), 30000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "still running after 30 s";
        TerminateProcess(processHandle.Get(), 1);
    }
    GetExitCodeProcess(processHandle.Get(), &exitCode);
    return exitCode;
}

TEST(VersionFichier, TakesMajorMinorAndTheFourthWord) {
    EXPECT_EQ(VersionFichier(Narrow(Velmor(L"1.0.0.0"))), "1.0.0");
    EXPECT_EQ(VersionFichier(Narrow(Velmor(L"4.2.0.15"))), "4.2.15");
    EXPECT_EQ(VersionFichier(Narrow(Velmor(L"4.2.3.15"))), "4.2.15");
    EXPECT_EQ(VersionFichier(Narrow(Velmor(L"4.10.0.2"))), "4.10.2");
}

TEST(VersionFichier, PartsAbove32767AreNotNegative) {
    EXPECT_EQ(VersionFichier(Narrow(Velmor(L"1.0.0.65535"))), "1.0.65535");
}

TEST(VersionFichier, UnreadableVersionsGiveZeroPointZeroPointZero) {
    EXPECT_EQ(VersionFichier(Narrow(Velmor(L"noversion"))), "0.0.0");
    EXPECT_EQ(VersionFichier("C:\\no such folder\\Velmor.exe"), "0.0.0");
    EXPECT_EQ(VersionFichier("Velmor-absent.exe"), "0.0.0");
    EXPECT_EQ(VersionFichier(""), "0.0.0");
    EXPECT_EQ(VersionFichier(Narrow(BuildFolder())), "0.0.0");
}

// probe.exe restricts its library search to the system folder, as the updater does, before reading.
TEST(VersionFichier, BareNamePrefersTheCopyBesideTheRunningProgram) {
    ScratchFolder programFolder(L"program");
    ScratchFolder currentFolder(L"current");
    const std::wstring probe = programFolder.Add(BuildFolder() + L"\\fixtures\\probe\\probe.exe", L"probe.exe");
    currentFolder.Add(Velmor(L"1.0.0.0"), L"Velmor.exe");

    EXPECT_EQ(RunToEnd(probe, L"version Velmor.exe", currentFolder.Path()).output, "version\ttext=1.0.0\n");

    programFolder.Add(Velmor(L"4.2.0.15"), L"Velmor.exe");
    EXPECT_EQ(RunToEnd(probe, L"version Velmor.exe", currentFolder.Path()).output, "version\ttext=4.2.15\n");
    EXPECT_EQ(RunToEnd(probe, L"version velmor.EXE", currentFolder.Path()).output, "version\ttext=4.2.15\n");
}

// An updater runs beside downloaded files: a version.dll or wininet.dll placed there must never be
// loaded in place of the system's. (The program itself is only given a wininet.dll: under Wine, the
// system's user32.dll imports version.dll, so a planted one stops every windowed program at its
// start; on Windows user32 is a known library whose imports come from the system folder.)
TEST(SystemLibraries, LibrariesBesideTheProgramAreNeverLoaded) {
    ScratchFolder folder(L"planted");
    const std::wstring probe = folder.Add(BuildFolder() + L"\\fixtures\\probe\\probe.exe", L"probe.exe");
    folder.Add(Velmor(L"4.2.0.15"), L"Velmor.exe");
    folder.AddText(L"version.dll", "not a library");
    folder.AddText(L"wininet.dll", "not a library");

    EXPECT_EQ(RunToEnd(probe, L"version Velmor.exe", folder.Path()).output, "version\ttext=4.2.15\n");
    const RunResult fetch = RunToEnd(probe, L"fetch 2000 1048576 http://127.0.0.1:1/version.htm", folder.Path());
    EXPECT_EQ(fetch.exitCode, 0u) << fetch.output;
    EXPECT_EQ(fetch.output.rfind("fetch\tok=0\t", 0), 0u) << fetch.output;
}

TEST(SystemLibraries, ProgramStartsBesideAPlantedWinInet) {
    ScratchFolder folder(L"planted-wininet");
    const std::wstring updater = folder.Add(BuildFolder() + L"\\MAJLumoradex.exe", L"MAJLumoradex.exe");
    folder.AddText(L"wininet.dll", "not a library");
    // Automatic mode with no server: the check is impossible and the program ends by itself.
    EXPECT_EQ(ExitCodeOf(updater, folder.Path()), 0u);
}

} // namespace
} // namespace lumoradex
