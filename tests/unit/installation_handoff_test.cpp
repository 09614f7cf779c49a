#include "updater/install/installation_handoff.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "tests/unit/fakes/disk.h"
#include "tests/unit/fakes/process.h"
#include "tests/unit/fakes/release_verifier.h"
#include "tests/unit/fakes/server.h"
#include "tests/unit/fakes/update_run_view.h"
#include "updater/install/elevated_installation.h"
#include "updater/release/installation_folder.h"
#include "updater/release/server_addresses.h"
#include "updater/release/update_file_list.h"

namespace lumoradex {
namespace {

TEST(InstallationHandOff, ReadsBackWhatItWrites) {
    for (const std::uintptr_t window : {std::uintptr_t{0x1a2b3c}, std::uintptr_t{1}, UINTPTR_MAX}) {
        const std::string commandLine = FormatHandOff({window});
        EXPECT_TRUE(IsHandOff(commandLine));
        const std::optional<InstallationHandOff> read = ParseHandOff(commandLine);
        ASSERT_TRUE(read) << commandLine;
        EXPECT_EQ(read->progressWindow, window);
    }
    EXPECT_EQ(FormatHandOff({0x1a2b3c}), "/installation-elevee 1a2b3c");
}

class ForgedHandOff : public ::testing::TestWithParam<std::string> {};

TEST_P(ForgedHandOff, IsRefused) { EXPECT_FALSE(ParseHandOff(GetParam())) << GetParam(); }

// A folder, or anything else after the window, has no place in a hand-off any more.
INSTANTIATE_TEST_SUITE_P(InstallationHandOff, ForgedHandOff,
                         ::testing::Values("/installation-elevee", "/installation-elevee ", "/installation-elevee zz",
                                           "/installation-elevee -1", "/installation-elevee 1 ",
                                           "/installation-elevee 1 \"C:\\Program Files\\LumoradexV4\"",
                                           "/installation-elevee 1 \"C:\\Windows\"", "/installation-elevee 1x",
                                           "/installation-elevee 123456789abcdef0123", "/INSTALLATION-ELEVEE 1"));

// --- the elevated instance's work ------------------------------------------------------------

using fakes::Der;
using fakes::FakeAnswer;
using fakes::FakeDigest;
using fakes::FakeDisk;
using fakes::FakeProcess;
using fakes::FakeServer;
using fakes::FakeSignature;
using fakes::FakeUpdateRunView;
using fakes::FakeVerifier;
using fakes::Hex;

// The elevated instance: the standard installation or nothing, and only what a signed release proves.
class HandedOffInstallation : public ::testing::Test {
protected:
    HandedOffInstallation() {
        disk.currentFolder = "C:\\Users\\standard\\Downloads"; // wherever the user started it
        disk.AddFolder(std::string(kInstallationFolder));
        disk.files[std::string(kInstalledExecutable)] = std::string(900, 'o');
        disk.versions[std::string(kInstalledExecutable)] = "4.2.0";
        for (std::string_view name : kUpdateFileList) {
            release[std::string(name)] = std::string(1000, 'n') + std::string(name);
            server.answers[DownloadUrl(name)] = FakeAnswer{DownloadResult::Complete, release[std::string(name)]};
        }
        Sign("4.2.1");
    }
    void Sign(const std::string& version) {
        std::string list = "version " + version + "\n";
        for (const auto& [name, body] : release)
            list += Hex(FakeDigest(body)) + " " + std::to_string(body.size()) + " " + name + "\n";
        server.texts[DownloadUrl("release.txt")] = list;
        server.texts[DownloadUrl("release.sig")] = Der(FakeSignature(list));
    }
    HandOffExit Install(ReleaseVerifier* withVerifier) {
        return InstallHandedOff({disk, server, disk, process, withVerifier}, window);
    }
    HandOffExit Install() { return Install(&verifier); }
    bool AnythingDownloaded() const {
        return std::ranges::any_of(events, [](const std::string& event) { return event.starts_with("download "); });
    }
    bool Installed() const {
        return std::ranges::all_of(release, [&](const auto& file) {
            return disk.files.contains(file.first) && disk.files.at(file.first) == file.second;
        });
    }
    bool TouchedOutsideTheInstallation() const {
        return std::ranges::any_of(disk.files, [](const auto& file) { return file.first.find('\\') != std::string::npos &&
                                                                        !file.first.starts_with(kInstallationFolder); });
    }

    std::vector<std::string> events;
    FakeUpdateRunView window{events};
    FakeDisk disk;
    FakeServer server{events};
    FakeProcess process{events};
    FakeVerifier verifier;
    std::map<std::string, std::string> release;
};

// Whatever folder it was started in, it works in the installation folder, with bare names there,
// and judges the release against the installation's own executable.
TEST_F(HandedOffInstallation, InstallsAProvenReleaseInTheInstallationFolderOnly) {
    EXPECT_EQ(Install(), HandOffExit::Installed);
    EXPECT_EQ(disk.currentFolder, std::string(kInstallationFolder));
    EXPECT_TRUE(Installed());
    EXPECT_THAT(disk.versionQueries, ::testing::Contains(std::string(kInstalledExecutable)));
    EXPECT_TRUE(disk.sameFolderQueries.empty()); // no mirror copy is even considered
    EXPECT_FALSE(TouchedOutsideTheInstallation());
    EXPECT_EQ(window.message, "Veuillez patienter, téléchargement en cours (Velmor.exe)");
    // It asks the application to close before its commit, and never starts it.
    EXPECT_EQ(std::ranges::count(events, "FermerFenetres Lumoradex"), 1);
    EXPECT_TRUE(std::ranges::none_of(
        events, [](const std::string& event) { return event.starts_with("StartProgram") || event == "EndProgram"; }));
}

TEST_F(HandedOffInstallation, AnOlderOrTamperedReleaseInstallsNothing) {
    for (const bool older : {true, false}) {
        events.clear();
        if (older) {
            Sign("4.1.9");
        } else {
            Sign("4.2.1");
            server.answers[DownloadUrl("socle.mdb")].body[10] ^= 1;
        }
        EXPECT_EQ(Install(), HandOffExit::FileFailed) << older;
        // The installation's executable, as it was, and the files proven before the tampered one,
        // kept for the next run.
        EXPECT_EQ(std::ranges::count_if(disk.files,
                                        [](const auto& file) {
                                            return !file.first.substr(file.first.find_last_of('\\') + 1).starts_with("New");
                                        }),
                  1)
            << older;
    }
}

TEST_F(HandedOffInstallation, AnUnreadableInstalledVersionInstallsNothing) {
    disk.versions.clear();
    window.vLocale = "4.2.0"; // what the hand-off's window might claim counts for nothing
    EXPECT_EQ(Install(), HandOffExit::FileFailed);
    EXPECT_FALSE(AnythingDownloaded());
}

// Without a release key nothing it wrote could be proven; without an installation, or its folder,
// there is nothing to update.
TEST_F(HandedOffInstallation, RefusesWithoutAKeyOrAnInstallation) {
    EXPECT_EQ(Install(nullptr), HandOffExit::Refused);
    disk.files.clear();
    EXPECT_EQ(Install(), HandOffExit::Refused);
    disk.files[std::string(kInstalledExecutable)] = "o";
    disk.failures.Fail("ChangeFolder " + std::string(kInstallationFolder));
    EXPECT_EQ(Install(), HandOffExit::Refused);
    EXPECT_FALSE(AnythingDownloaded());
    EXPECT_EQ(disk.files.size(), 1u);
}

} // namespace
} // namespace lumoradex
