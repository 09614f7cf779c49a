#include "system/version_fichier_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/unique_handle_win.h"
#include "base/wide_text_win.h"
#include "tests/win32/fixture_process_win.h"
#include "tests/win32/temporary_folder_win.h"

namespace lumoradex {
namespace {

using win32_tests::BuildFolder;
using win32_tests::FixturePath;
using win32_tests::TemporaryFolder;
using win32_tests::WriteFileText;

std::wstring Velmor(const wchar_t* version) {
    return FixturePath(std::wstring(L"velmor\\") + version + L"\\Velmor.exe");
}

// A copy of source in the folder, under the name.
std::wstring CopyInto(const TemporaryFolder& folder, const std::wstring& source, const std::wstring& name) {
    const std::wstring copy = folder / name;
    EXPECT_TRUE(CopyFileW(source.c_str(), copy.c_str(), FALSE)) << Narrow(source);
    return copy;
}

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
    TemporaryFolder programFolder;
    TemporaryFolder currentFolder;
    const std::wstring probe = CopyInto(programFolder, FixturePath(L"probe\\probe.exe"), L"probe.exe");
    CopyInto(currentFolder, Velmor(L"1.0.0.0"), L"Velmor.exe");

    EXPECT_EQ(RunToEnd(probe, L"version Velmor.exe", currentFolder.Wide()).output, "version\ttext=1.0.0\n");

    CopyInto(programFolder, Velmor(L"4.2.0.15"), L"Velmor.exe");
    EXPECT_EQ(RunToEnd(probe, L"version Velmor.exe", currentFolder.Wide()).output, "version\ttext=4.2.15\n");
    EXPECT_EQ(RunToEnd(probe, L"version velmor.EXE", currentFolder.Wide()).output, "version\ttext=4.2.15\n");
}

// An updater runs beside downloaded files: a version.dll or wininet.dll placed there must never be
// loaded in place of the system's. (The program itself is only given a wininet.dll: under Wine, the
// system's user32.dll imports version.dll, so a planted one stops every windowed program at its
// start; on Windows user32 is a known library whose imports come from the system folder.)
TEST(SystemLibraries, LibrariesBesideTheProgramAreNeverLoaded) {
    TemporaryFolder folder;
    const std::wstring probe = CopyInto(folder, FixturePath(L"probe\\probe.exe"), L"probe.exe");
    CopyInto(folder, Velmor(L"4.2.0.15"), L"Velmor.exe");
    WriteFileText(folder / "version.dll", "not a library");
    WriteFileText(folder / "wininet.dll", "not a library");

    EXPECT_EQ(RunToEnd(probe, L"version Velmor.exe", folder.Wide()).output, "version\ttext=4.2.15\n");
    const RunResult fetch = RunToEnd(probe, L"fetch 2000 1048576 http://127.0.0.1:1/version.htm", folder.Wide());
    EXPECT_EQ(fetch.exitCode, 0u) << fetch.output;
    EXPECT_EQ(fetch.output.rfind("fetch\tok=0\t", 0), 0u) << fetch.output;
}

TEST(SystemLibraries, ProgramStartsBesideAPlantedWinInet) {
    TemporaryFolder folder;
    const std::wstring updater = CopyInto(folder, BuildFolder() + L"\\MAJLumoradex.exe", L"MAJLumoradex.exe");
    WriteFileText(folder / "wininet.dll", "not a library");
    // Automatic mode with no server: the check is impossible and the program ends by itself.
    EXPECT_EQ(ExitCodeOf(updater, folder.Wide()), 0u);
}

} // namespace
} // namespace lumoradex
