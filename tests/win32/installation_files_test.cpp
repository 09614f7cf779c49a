#include "system/installation_files_win.h"

#include <gtest/gtest.h>

#include <cctype>

#include "base/win32_error_win.h"
#include "tests/win32/fixture_process_win.h"
#include "tests/win32/temporary_folder_win.h"

namespace lumoradex {
namespace {

using win32_tests::FileExists;
using win32_tests::FixturePath;
using win32_tests::FixtureProcess;
using win32_tests::HoldWithoutSharing;
using win32_tests::ReadFileText;
using win32_tests::TemporaryFolder;
using win32_tests::WriteFileText;

void WriteText(FileWriter& writer, const std::string& text) {
    writer.Write(reinterpret_cast<const std::byte*>(text.data()), text.size());
}

class InstallationFilesTest : public ::testing::Test {
protected:
    Win32InstallationFiles files;
    TemporaryFolder folder;
};

// --- the temporary file -------------------------------------------------------------------------

// Whatever already has the temporary file's name is never opened, let alone written.
TEST_F(InstallationFilesTest, CreateMakesANewFileOnly) {
    WriteFileText(folder / "NewVelmor.prm", "stale content");
    EXPECT_THROW(files.Create(folder / "NewVelmor.prm"), Win32Error);
    EXPECT_EQ(ReadFileText(folder / "NewVelmor.prm"), "stale content");
}

// A kept temporary file is written on from its end, held as a new one is; a second name of it, a
// link, or a file another program holds is never written through.
TEST_F(InstallationFilesTest, ReopenGoesOnWithAPlainFileOnly) {
    WriteFileText(folder / "Newsocle.mdb", "first half ");
    {
        auto writer = files.Reopen(folder / "Newsocle.mdb");
        ASSERT_TRUE(writer);
        EXPECT_EQ(writer->Size(), 11u);
        WriteText(*writer, "second half");
        const UniqueFile other(CreateFileW(Widen(folder / "Newsocle.mdb").c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(other);
    }
    EXPECT_EQ(ReadFileText(folder / "Newsocle.mdb"), "first half second half");
    EXPECT_FALSE(files.Reopen(folder / "NewMissing.mdb"));

    WriteFileText(folder / "system.dll", "not the user's");
    ASSERT_TRUE(CreateHardLinkW(Widen(folder / "NewVelmor.exe").c_str(), Widen(folder / "system.dll").c_str(), nullptr));
    EXPECT_FALSE(files.Reopen(folder / "NewVelmor.exe"));
    EXPECT_EQ(ReadFileText(folder / "system.dll"), "not the user's");

    const UniqueFile held(CreateFileW(Widen(folder / "Newsocle.mdb").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_THROW(files.Reopen(folder / "Newsocle.mdb"), Win32Error);
}

// From its creation to its rename, no other program may write, delete or rename the file, nor read
// it half-written; the rename goes through the writer's own handle.
TEST_F(InstallationFilesTest, FileIsHeldUntilRenamedThroughItsHandle) {
    WriteFileText(folder / "Velmor.prm", "old");
    auto writer = files.Create(folder / "NewVelmor.prm");
    WriteText(*writer, "first ");
    WriteText(*writer, "second");
    writer->Flush();
    const std::wstring temporary = Widen(folder / "NewVelmor.prm");
    for (const DWORD access : {DWORD{GENERIC_READ}, DWORD{GENERIC_WRITE}, DWORD{DELETE}}) {
        const UniqueFile other(CreateFileW(temporary.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(other) << "access " << access;
    }
    EXPECT_THROW(files.Delete(folder / "NewVelmor.prm"), Win32Error);
    EXPECT_FALSE(MoveFileExW(temporary.c_str(), Widen(folder / "Moved.prm").c_str(), 0));
    // Read back through the same handle; reading does not move where the next bytes go.
    std::string back(20, '\0');
    back.resize(writer->ReadAt(6, reinterpret_cast<std::byte*>(back.data()), back.size()));
    EXPECT_EQ(back, "second");
    WriteText(*writer, "!");
    EXPECT_EQ(writer->Size(), 13u);

    EXPECT_EQ(writer->RenameOver(folder / "Velmor.prm"), ReplaceResult::Replaced);
    EXPECT_FALSE(FileExists(folder / "NewVelmor.prm"));
    // Under its new name the file stays held, shared with no one, until the writer is dropped: no
    // other program can open it, and so none can keep it from being renamed away again.
    EXPECT_FALSE(UniqueFile(CreateFileW(Widen(folder / "Velmor.prm").c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        0, nullptr)));
    EXPECT_EQ(writer->RenameOver(folder / "NewVelmor.prm"), ReplaceResult::Replaced);
    EXPECT_FALSE(FileExists(folder / "Velmor.prm"));
    EXPECT_EQ(writer->RenameOver(folder / "Velmor.prm"), ReplaceResult::Replaced);
    writer.reset();
    EXPECT_EQ(ReadFileText(folder / "Velmor.prm"), "first second!");
}

// An installed file is read even while it runs; while it is read nobody may write it, and a file
// another program writes is not read at all.
TEST_F(InstallationFilesTest, InstalledFileIsReadWhileRunningButNeverWhileWritten) {
    const std::string running = folder / "Velmor.exe";
    ASSERT_TRUE(CopyFileW(FixturePath(L"update_install\\file_holder.exe").c_str(), Widen(running).c_str(), FALSE));
    const std::string content = ReadFileText(running);
    auto application = FixtureProcess::StartReady(Widen(running), L"", L"1500");
    std::unique_ptr<FileReader> reader = files.OpenToRead(running);
    ASSERT_EQ(reader->Size(), content.size());
    std::string tail(100, '\0');
    tail.resize(reader->ReadAt(content.size() - 10, reinterpret_cast<std::byte*>(tail.data()), tail.size()));
    EXPECT_EQ(tail, content.substr(content.size() - 10));
    EXPECT_EQ(reader->ReadAt(content.size() + 5, reinterpret_cast<std::byte*>(tail.data()), 1), 0u);
    const std::wstring path = Widen(running);
    EXPECT_FALSE(UniqueFile(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr)));
    ASSERT_TRUE(application.WaitForExit(10000));

    WriteFileText(folder / "Velmor.prm", "being written");
    const UniqueFile writing(CreateFileW(Widen(folder / "Velmor.prm").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writing);
    EXPECT_THROW(files.OpenToRead(folder / "Velmor.prm"), Win32Error);
    EXPECT_THROW(files.OpenToRead(folder / "absent"), Win32Error);
}

// A bare target name is the current folder's, wherever the file was written.
TEST_F(InstallationFilesTest, RenameOverABareNameTargetsTheCurrentFolder) {
    wchar_t saved[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, saved), 0u);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.Wide().c_str()));
    auto writer = files.Create("NewMailLink.exe");
    WriteText(*writer, "new");
    const ReplaceResult result = writer->RenameOver("MailLink.exe");
    SetCurrentDirectoryW(saved);
    writer.reset();
    EXPECT_EQ(result, ReplaceResult::Replaced);
    EXPECT_EQ(ReadFileText(folder / "MailLink.exe"), "new");
}

TEST_F(InstallationFilesTest, RenameOverAHeldTargetIsInUseAndTheWriterKeepsItsFile) {
    WriteFileText(folder / "Velmor.prm", "old");
    auto writer = files.Create(folder / "NewVelmor.prm");
    WriteText(*writer, "new");
    writer->Flush();
    {
        auto holder = HoldWithoutSharing(folder / "Velmor.prm", 60000);
        EXPECT_EQ(writer->RenameOver(folder / "Velmor.prm"), ReplaceResult::TargetInUse);
        holder.End();
    }
    EXPECT_THROW(files.Delete(folder / "NewVelmor.prm"), Win32Error); // still held
    EXPECT_EQ(writer->RenameOver(folder / "Velmor.prm"), ReplaceResult::Replaced);
    writer.reset();
    EXPECT_EQ(ReadFileText(folder / "Velmor.prm"), "new");
}

TEST_F(InstallationFilesTest, RenameOverAFolderOrAReadOnlyFileFailsAtOnce) {
    ASSERT_TRUE(CreateDirectoryW(Widen(folder / "Velmor.prm").c_str(), nullptr));
    WriteFileText(folder / "socle.mdb", "old");
    ASSERT_TRUE(SetFileAttributesW(Widen(folder / "socle.mdb").c_str(), FILE_ATTRIBUTE_READONLY));
    for (const char* target : {"Velmor.prm", "socle.mdb"}) {
        auto writer = files.Create(folder / (std::string("New") + target));
        WriteText(*writer, "new");
        EXPECT_THROW(writer->RenameOver(folder / target), Win32Error) << target;
    }
    SetFileAttributesW(Widen(folder / "socle.mdb").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadFileText(folder / "socle.mdb"), "old");
}

TEST_F(InstallationFilesTest, DroppedWriterLetsTheFileGo) {
    auto writer = files.Create(folder / "NewVelmor.prm");
    WriteText(*writer, "partial");
    writer.reset();
    files.Delete(folder / "NewVelmor.prm");
    EXPECT_FALSE(FileExists(folder / "NewVelmor.prm"));
}

TEST_F(InstallationFilesTest, CreateInAMissingFolderFails) {
    EXPECT_THROW(files.Create(folder / "missing\\NewVelmor.prm"), Win32Error);
}

TEST_F(InstallationFilesTest, LengthBeyondFourGibibytes) {
    const std::string path = folder / "XVelmor.mdb";
    {
        UniqueFile file(
            CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
        LARGE_INTEGER size;
        size.QuadPart = 5LL * 1024 * 1024 * 1024 + 3; // sparse on the Linux side: no disk space needed
        ASSERT_TRUE(SetFilePointerEx(file.Get(), size, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(file.Get()));
    }
    EXPECT_EQ(files.Length(path), 5LL * 1024 * 1024 * 1024 + 3);
}

// The old content keeps its second name, whole, once the first is replaced; even the running
// executable's.
TEST_F(InstallationFilesTest, KeptAsideContentOutlivesTheReplacement) {
    const std::string running = folder / "Velmor.exe";
    ASSERT_TRUE(CopyFileW(FixturePath(L"update_install\\file_holder.exe").c_str(), Widen(running).c_str(), FALSE));
    const std::string old = ReadFileText(running);
    auto application = FixtureProcess::StartReady(Widen(running), L"", L"1500");
    EXPECT_TRUE(files.KeepAside(running, folder / "OldVelmor.exe"));
    EXPECT_THROW(files.KeepAside(running, folder / "OldVelmor.exe"), Win32Error); // the name is taken
    ASSERT_TRUE(application.WaitForExit(10000));
    auto writer = files.Create(folder / "NewVelmor.exe");
    WriteText(*writer, "new executable");
    EXPECT_EQ(writer->RenameOver(running), ReplaceResult::Replaced);
    writer.reset();
    EXPECT_EQ(ReadFileText(running), "new executable");
    EXPECT_EQ(ReadFileText(folder / "OldVelmor.exe"), old);
    EXPECT_FALSE(files.KeepAside(folder / "absent", folder / "Oldabsent"));
}

TEST_F(InstallationFilesTest, FreeBytesOfTheFolderDisk) {
    EXPECT_GT(files.FreeBytes(folder.Path()), 0u);
    EXPECT_THROW(files.FreeBytes(folder / "absent\\deeper"), Win32Error);
}

TEST_F(InstallationFilesTest, MissingFileHasNoLengthAndCannotBeDeleted) {
    EXPECT_THROW(files.Length(folder / "absent"), Win32Error);
    EXPECT_THROW(files.Delete(folder / "absent"), Win32Error);
}

// --- the atomic replacement ------------------------------------------------------------------------

TEST_F(InstallationFilesTest, ReplacementRenamesTheNewFileOverTheOldOne) {
    WriteFileText(folder / "Velmor.prm", "old");
    WriteFileText(folder / "NewVelmor.prm", "new");
    EXPECT_EQ(files.ReplaceWith(folder / "Velmor.prm", folder / "NewVelmor.prm"), ReplaceResult::Replaced);
    EXPECT_EQ(ReadFileText(folder / "Velmor.prm"), "new");
    EXPECT_FALSE(FileExists(folder / "NewVelmor.prm"));
}

TEST_F(InstallationFilesTest, ReplacementInstallsAFileThatWasMissing) {
    WriteFileText(folder / "NewMailLink.exe", "new");
    EXPECT_EQ(files.ReplaceWith(folder / "MailLink.exe", folder / "NewMailLink.exe"), ReplaceResult::Replaced);
    EXPECT_EQ(ReadFileText(folder / "MailLink.exe"), "new");
}

TEST_F(InstallationFilesTest, TargetHeldWithoutSharingIsInUseAndStaysWhole) {
    WriteFileText(folder / "Velmor.prm", "old");
    WriteFileText(folder / "NewVelmor.prm", "new");
    auto holder = HoldWithoutSharing(folder / "Velmor.prm", 60000);
    EXPECT_EQ(files.ReplaceWith(folder / "Velmor.prm", folder / "NewVelmor.prm"), ReplaceResult::TargetInUse);
    holder.End();
    EXPECT_EQ(ReadFileText(folder / "Velmor.prm"), "old");
    EXPECT_EQ(ReadFileText(folder / "NewVelmor.prm"), "new"); // kept for a retry or the next run
}

TEST_F(InstallationFilesTest, RunningExecutableIsInUseUntilItEnds) {
    const std::string running = folder / "Velmor.exe";
    ASSERT_TRUE(CopyFileW(FixturePath(L"update_install\\file_holder.exe").c_str(), Widen(running).c_str(), FALSE));
    const std::string old = ReadFileText(running);
    WriteFileText(folder / "NewVelmor.exe", "new executable");
    auto application = FixtureProcess::StartReady(Widen(running), L"", L"1500");
    EXPECT_EQ(files.ReplaceWith(running, folder / "NewVelmor.exe"), ReplaceResult::TargetInUse);
    EXPECT_EQ(ReadFileText(running), old);
    EXPECT_EQ(ReadFileText(folder / "NewVelmor.exe"), "new executable");

    ASSERT_TRUE(application.WaitForExit(10000));
    EXPECT_EQ(files.ReplaceWith(running, folder / "NewVelmor.exe"), ReplaceResult::Replaced);
    EXPECT_EQ(ReadFileText(running), "new executable");
}

TEST_F(InstallationFilesTest, FolderInTheWayFailsAtOnceInsteadOfCountingAsInUse) {
    ASSERT_TRUE(CreateDirectoryW(Widen(folder / "Velmor.prm").c_str(), nullptr));
    WriteFileText(folder / "NewVelmor.prm", "new");
    EXPECT_THROW(files.ReplaceWith(folder / "Velmor.prm", folder / "NewVelmor.prm"), Win32Error);
    EXPECT_EQ(ReadFileText(folder / "NewVelmor.prm"), "new");
}

TEST_F(InstallationFilesTest, MissingSourceFails) {
    WriteFileText(folder / "Velmor.prm", "old");
    EXPECT_THROW(files.ReplaceWith(folder / "Velmor.prm", folder / "NewVelmor.prm"), Win32Error);
    EXPECT_EQ(ReadFileText(folder / "Velmor.prm"), "old");
}

// --- the mirror copy's copy ---------------------------------------------------------------------------

TEST_F(InstallationFilesTest, CopyReplacesAnExistingDestination) {
    WriteFileText(folder / "socle.mdb", "new");
    WriteFileText(folder / "Newsocle.mdb", "older leftover");
    files.Copy(folder / "socle.mdb", folder / "Newsocle.mdb");
    EXPECT_EQ(ReadFileText(folder / "Newsocle.mdb"), "new");
    EXPECT_EQ(ReadFileText(folder / "socle.mdb"), "new");
}

TEST_F(InstallationFilesTest, CopyOntoAHeldDestinationFails) {
    WriteFileText(folder / "socle.mdb", "new");
    WriteFileText(folder / "Newsocle.mdb", "held");
    auto holder = HoldWithoutSharing(folder / "Newsocle.mdb", 60000);
    EXPECT_THROW(files.Copy(folder / "socle.mdb", folder / "Newsocle.mdb"), Win32Error);
}

// --- the folder's lock ---------------------------------------------------------------------------

// One run at a time in a folder: the lock is taken once, goes with its holder's handle however the
// holder ends, and a lock file left behind by a crash blocks nobody.
TEST_F(InstallationFilesTest, AFolderIsLockedByOneRunAtATime) {
    {
        const std::unique_ptr<FolderLock> lock = files.LockFolder(folder.Path());
        ASSERT_TRUE(lock);
        EXPECT_FALSE(files.LockFolder(folder.Path()));
    }
    EXPECT_FALSE(FileExists(folder / "MAJLumoradex.lock"));
    EXPECT_TRUE(files.LockFolder(folder.Path() + "\\"));

    WriteFileText(folder / "MAJLumoradex.lock", "left by a crash");
    {
        auto otherRun = HoldWithoutSharing(folder / "MAJLumoradex.lock", 60000);
        EXPECT_FALSE(files.LockFolder(folder.Path()));
        otherRun.End();
    }
    EXPECT_TRUE(files.LockFolder(folder.Path()));
    EXPECT_THROW(files.LockFolder(folder / "missing"), Win32Error);
}

// --- recognising the same folder ------------------------------------------------------------------------

TEST_F(InstallationFilesTest, SameFolderWhateverItsSpelling) {
    const std::string path = folder.Path();
    std::string upper = path;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    wchar_t shortPath[MAX_PATH];
    ASSERT_GT(GetShortPathNameW(folder.Wide().c_str(), shortPath, MAX_PATH), 0u);
    ASSERT_NE(Narrow(shortPath), path); // the folder's long name has a distinct short one

    EXPECT_TRUE(files.SameFolder(path, path));
    EXPECT_TRUE(files.SameFolder(upper, path));
    EXPECT_TRUE(files.SameFolder(path + "\\", path));
    EXPECT_TRUE(files.SameFolder(Narrow(shortPath), path));
    EXPECT_TRUE(files.SameFolder(path, Narrow(shortPath) + "\\"));
}

TEST_F(InstallationFilesTest, OtherOrMissingFolderIsNotTheSame) {
    const std::string inner = folder / "LumoradexV4";
    ASSERT_TRUE(CreateDirectoryW(Widen(inner).c_str(), nullptr));
    EXPECT_FALSE(files.SameFolder(folder.Path(), inner));
    EXPECT_FALSE(files.SameFolder(folder / "absent", inner));
    EXPECT_FALSE(files.SameFolder(folder / "absent", folder / "absent"));
}

} // namespace
} // namespace lumoradex
