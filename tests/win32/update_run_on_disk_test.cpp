// The installation over the real file operations under Wine: files that another program still holds
// are replaced once it lets them go, and a broken download leaves nothing behind.

#include "updater/install/release_installation.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "system/environment_win.h"
#include "system/installation_files_win.h"
#include "base/unique_handle_win.h"
#include "base/wide_text_win.h"
#include "tests/win32/fixture_process_win.h"
#include "tests/win32/temporary_folder_win.h"
#include "updater/release/installation_folder.h"
#include "updater/release/server_addresses.h"
#include "updater/release/update_file_list.h"

namespace lumoradex {
namespace {

using win32_tests::FileExists;
using win32_tests::FixturePath;
using win32_tests::FixtureProcess;
using win32_tests::HoldWithoutSharing;
using win32_tests::ReadFileText;
using win32_tests::TemporaryFolder;
using win32_tests::WriteFileText;

class MemoryWindow final : public InstallProgress, public WindowUpkeep {
public:
    void SetMessage(const std::string& text) override { message = text; }
    void FlushMessages() override {}
    void RepaintNow() override { ++repaints; }

    std::string message;
    int repaints = 0;
};

// Serves bodies from memory; a body marked as cut short fails after delivering half of itself.
class MemoryServer final : public Transfer {
public:
    std::map<std::string, std::string> bodies;
    std::map<std::string, bool> cutShort;

    std::optional<std::string> FetchText(const std::string&, std::size_t) override { return std::nullopt; }
    DownloadResult Download(const DownloadRequest& request, DownloadSink& sink) override {
        const auto body = bodies.find(request.url);
        if (body == bodies.end())
            return DownloadResult::Refused;
        const bool cut = cutShort[request.url];
        const std::size_t size = cut ? body->second.size() / 2 : body->second.size();
        AnswerHeaders headers;
        headers.announcedLength = body->second.size();
        if (sink.Expect(headers).decision != BodyPlan::Decision::Read)
            return DownloadResult::Declined;
        sink.Write(reinterpret_cast<const std::byte*>(body->second.data()), size);
        sink.BetweenChunks();
        return cut ? DownloadResult::Failed : DownloadResult::Complete;
    }
    bool StillExecuting() const override { return false; }
};

class RealSleep final : public ProcessServices {
public:
    bool FermerFenetres(const std::string&) override { return true; }
    void Beep() override {}
    void StartProgram(const std::string&, int) override {}
    void EndProgram() override {}
    void Sleep(int milliseconds) override { ::Sleep(static_cast<DWORD>(milliseconds)); }
    std::chrono::steady_clock::time_point Now() const override { return std::chrono::steady_clock::now(); }
};

// Another program of the user's, as the commit waits for the executable in use, the other files all
// new by then: it opens each of them for reading, without delete sharing, to keep the commit from
// putting it back. It does not wait, so the commit gives up on the executable at once.
class OpenerOfNewFiles final : public ProcessServices {
public:
    explicit OpenerOfNewFiles(std::vector<std::string> files) : files_(std::move(files)) {}

    bool FermerFenetres(const std::string&) override { return true; }
    void Beep() override {}
    void StartProgram(const std::string&, int) override {}
    void EndProgram() override {}
    std::chrono::steady_clock::time_point Now() const override { return std::chrono::steady_clock::now(); }
    void Sleep(int) override {
        for (const std::string& file : files_) {
            UniqueFile opened(CreateFileW(Widen(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
            if (opened)
                held.push_back(std::move(opened));
        }
    }

    std::vector<UniqueFile> held;

private:
    std::vector<std::string> files_;
};

// The run works on bare names in the current folder: the test's folder for the time of a test.
class CurrentFolderScope {
public:
    explicit CurrentFolderScope(const std::wstring& folder) {
        saved_.resize(GetCurrentDirectoryW(0, nullptr));
        saved_.resize(GetCurrentDirectoryW(static_cast<DWORD>(saved_.size()), saved_.data()));
        SetCurrentDirectoryW(folder.c_str());
    }
    CurrentFolderScope(const CurrentFolderScope&) = delete;
    CurrentFolderScope& operator=(const CurrentFolderScope&) = delete;
    ~CurrentFolderScope() { SetCurrentDirectoryW(saved_.c_str()); }

private:
    std::wstring saved_;
};

std::string Sized(const std::string& text, std::size_t size, char fill) {
    std::string bytes = text;
    bytes.resize(size, fill);
    return bytes;
}

class UpdateRunOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        // A mirror copy would reach the session's real installation folder.
        ASSERT_FALSE(environment.OrdinaryFileExists(std::string(kInstalledExecutable)));
    }
    void Serve(const std::string& name, const std::string& body) { server.bodies[DownloadUrl(name)] = body; }

    TemporaryFolder folder;
    CurrentFolderScope inFolder{folder.Wide()};
    MemoryWindow window;
    Win32Environment environment;
    MemoryServer server;
    Win32InstallationFiles files;
    RealSleep process;
    ReleaseInstallation installation{{environment, server, files, process, nullptr, &window}, window};
};

TEST_F(UpdateRunOnDisk, FileHeldByAnotherProgramIsReplacedOnceItLetsGo) {
    WriteFileText(folder / "Velmor.prm", Sized("old", 1000, 'o'));
    Serve("Velmor.prm", Sized("new", 1200, 'n'));
    auto holder = HoldWithoutSharing(folder / "Velmor.prm", 1500);

    EXPECT_TRUE(installation.Install(true));
    EXPECT_EQ(ReadFileText(folder / "Velmor.prm"), Sized("new", 1200, 'n'));
    EXPECT_FALSE(FileExists(folder / "NewVelmor.prm"));
    EXPECT_GT(window.repaints, 1); // the window was repainted while waiting
}

TEST_F(UpdateRunOnDisk, RunningExecutableIsReplacedOnceItHasEnded) {
    ASSERT_TRUE(CopyFileW(FixturePath(L"update_install\\file_holder.exe").c_str(), Widen(folder / "Velmor.exe").c_str(),
                          FALSE));
    const std::string newExecutable = ReadFileText(folder / "Velmor.exe") + "new release";
    Serve("Velmor.exe", newExecutable);
    auto application = FixtureProcess::StartReady(Widen(folder / "Velmor.exe"), L"", L"1500");

    EXPECT_TRUE(installation.Install(true));
    EXPECT_EQ(ReadFileText(folder / "Velmor.exe"), newExecutable);
    EXPECT_FALSE(FileExists(folder / "NewVelmor.exe"));
}

TEST_F(UpdateRunOnDisk, DownloadCutShortLeavesTheOldFileAndNoTemporaryFile) {
    WriteFileText(folder / "socle.mdb", Sized("old", 1000, 'o'));
    Serve("socle.mdb", Sized("new", 1200, 'n'));
    server.cutShort[DownloadUrl("socle.mdb")] = true;

    EXPECT_FALSE(installation.Install(true));
    EXPECT_EQ(ReadFileText(folder / "socle.mdb"), Sized("old", 1000, 'o'));
    EXPECT_FALSE(FileExists(folder / "Newsocle.mdb"));
}

TEST_F(UpdateRunOnDisk, StaleTemporaryFileIsReplacedByTheNewDownload) {
    WriteFileText(folder / "NewMailLink.exe", "left over by an interrupted run");
    Serve("MailLink.exe", Sized("new", 1200, 'n'));

    EXPECT_TRUE(installation.Install(true));
    EXPECT_EQ(ReadFileText(folder / "MailLink.exe"), Sized("new", 1200, 'n'));
    EXPECT_FALSE(FileExists(folder / "NewMailLink.exe"));
}

// A commit that fails puts back every file it replaced, whatever other programs open meanwhile: each
// new file stays held by the commit until it has succeeded or been undone.
TEST_F(UpdateRunOnDisk, NoOtherProgramCanKeepARollbackFromPuttingTheOldReleaseBack) {
    std::vector<std::string> dataFiles;
    for (std::string_view name : kUpdateFileList) {
        WriteFileText(folder / std::string(name), Sized("old", 1000, 'o'));
        Serve(std::string(name), Sized("new", 1200, 'n'));
        if (name != "Velmor.exe")
            dataFiles.push_back(folder / std::string(name));
    }
    OpenerOfNewFiles opener(dataFiles);
    ReleaseInstallation attacked{{environment, server, files, opener, nullptr, &window}, window};
    {
        auto holder = HoldWithoutSharing(folder / "Velmor.exe", 60000);
        EXPECT_FALSE(attacked.Install(true));
        holder.End();
    }
    EXPECT_TRUE(opener.held.empty()) << opener.held.size() << " new files were opened";
    for (std::string_view name : kUpdateFileList)
        EXPECT_EQ(ReadFileText(folder / std::string(name)), Sized("old", 1000, 'o')) << name;
    opener.held.clear();

    EXPECT_TRUE(installation.Install(true));
    for (std::string_view name : kUpdateFileList)
        EXPECT_EQ(ReadFileText(folder / std::string(name)), Sized("new", 1200, 'n')) << name;
}

} // namespace
} // namespace lumoradex
