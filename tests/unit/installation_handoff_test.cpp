#include "updater/installation_handoff.h"

#include <gtest/gtest.h>

#include "tests/unit/update_run_fakes.h"
#include "updater/elevated_installation.h"
#include "updater/installation_folder.h"
#include "updater/server_addresses.h"

namespace lumoradex {
namespace {

TEST(InstallationHandOff, ReadsBackWhatItWrites) {
    for (const InstallationHandOff& written :
         {InstallationHandOff{0x1a2b3c, "C:\\Program Files\\LumoradexV4"}, InstallationHandOff{1, "d:\\"},
          InstallationHandOff{UINTPTR_MAX, "E:\\Données\\Lumoradex V4"}}) {
        const std::string commandLine = FormatHandOff(written);
        EXPECT_TRUE(IsHandOff(commandLine));
        const std::optional<InstallationHandOff> read = ParseHandOff(commandLine);
        ASSERT_TRUE(read) << commandLine;
        EXPECT_EQ(read->progressWindow, written.progressWindow);
        EXPECT_EQ(read->workingFolder, written.workingFolder);
    }
}

class ForgedHandOff : public ::testing::TestWithParam<std::string> {};

TEST_P(ForgedHandOff, IsRefused) { EXPECT_FALSE(ParseHandOff(GetParam())) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(
    InstallationHandOff, ForgedHandOff,
    ::testing::Values("/installation-elevee", "/installation-elevee  \"C:\\x\"", "/installation-elevee zz \"C:\\x\"",
                      "/installation-elevee -1 \"C:\\x\"", "/installation-elevee 1 C:\\x", "/installation-elevee 1 \"C:\\x",
                      "/installation-elevee 1 \"C:\\x\" extra", "/installation-elevee 1 \"x\"",
                      "/installation-elevee 1 \"\\x\"", "/installation-elevee 1 \"C:x\"",
                      "/installation-elevee 1 \"\\\\server\\share\"", "/installation-elevee 1 \"\\\\?\\C:\\x\"",
                      "/installation-elevee 1 \"C:\\x\\..\\Windows\"", "/installation-elevee 1 \"C:\\x\\.\"",
                      "/installation-elevee 1 \"C:\\x\\\"", "/installation-elevee 1 \"C:\\x\\\\y\"",
                      "/installation-elevee 1 \"C:\\x\" \"D:\\y\"", "/installation-elevee 1 \"C:\\x*\"",
                      "/installation-elevee 1 \"C:\\x\\y:stream\"",
                      "/installation-elevee 123456789abcdef0123 \"C:\\x\"", "/INSTALLATION-ELEVEE 1 \"C:\\x\""));

// --- the elevated instance's work ------------------------------------------------------------

using update_fakes::FakeAnswer;
using update_fakes::FakeDisk;
using update_fakes::FakeProcess;
using update_fakes::FakeServer;
using update_fakes::FakeWindow;

class HandedOffInstallation : public ::testing::Test {
protected:
    HandedOffInstallation() {
        disk.currentFolder = "C:\\";
        for (std::string_view name : kUpdateFileList)
            server.answers[DownloadUrl(name)] = FakeAnswer{DownloadResult::Complete, std::string(1000, 'n')};
    }
    HandOffExit Install(const std::string& folder) {
        return InstallHandedOff({1, folder}, {window, disk, server, disk, process});
    }
    bool AnythingDownloaded() const {
        return std::ranges::any_of(events, [](const std::string& event) { return event.starts_with("download "); });
    }

    std::vector<std::string> events;
    FakeWindow window{events};
    FakeDisk disk;
    FakeServer server{events};
    FakeProcess process{events};
};

TEST_F(HandedOffInstallation, InstallsInAFolderThatHoldsTheApplicationAndNothingMore) {
    disk.files["Velmor.exe"] = std::string(900, 'o');
    EXPECT_EQ(Install("D:\\Lumoradex"), HandOffExit::Installed);
    EXPECT_EQ(disk.currentFolder, "D:\\Lumoradex");
    EXPECT_EQ(disk.files["Velmor.exe"], std::string(1000, 'n'));
    EXPECT_EQ(window.message, "Veuillez patienter, téléchargement en cours (Velmor.exe)");
    EXPECT_TRUE(std::ranges::none_of(events, [](const std::string& event) {
        return event.starts_with("FermerFenetres") || event.starts_with("StartProgram") || event == "EndProgram";
    }));
}

TEST_F(HandedOffInstallation, ReportsAFailedFile) {
    disk.files["Velmor.exe"] = std::string(900, 'o');
    server.answers.erase(DownloadUrl("socle.mdb"));
    EXPECT_EQ(Install("D:\\Lumoradex"), HandOffExit::FileFailed);
}

// A hand-off forged to name another folder, or one that cannot be entered, touches nothing.
TEST_F(HandedOffInstallation, RefusesAFolderTheRunWouldNotWorkIn) {
    EXPECT_EQ(Install("C:\\Windows\\System32"), HandOffExit::Refused);
    disk.failChangeFolder.insert("D:\\Lumoradex");
    disk.files["Velmor.exe"] = std::string(900, 'o');
    EXPECT_EQ(Install("D:\\Lumoradex"), HandOffExit::Refused);
    EXPECT_FALSE(AnythingDownloaded());
    EXPECT_EQ(disk.files["Velmor.exe"], std::string(900, 'o'));
}

TEST_F(HandedOffInstallation, AcceptsTheInstallationFolderItself) {
    disk.sameFolder = true;
    EXPECT_EQ(Install(std::string(kInstallationFolder)), HandOffExit::Installed);
    EXPECT_TRUE(AnythingDownloaded());
}

} // namespace
} // namespace lumoradex
