#pragma once
// The whole release or none in the folders this process installs in: what an interrupted commit
// left is cleared, a signed release's list is fetched and proven, every file is staged beside the
// installed one, and only then is the application asked to close and the release committed.
// Built with the maker's public key, it installs only what the release's signed list proves.
// Platform-free.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "updater/install/release_commit.h"
#include "updater/install/update_services.h"
#include "updater/ports/install_progress.h"
#include "updater/release/release_list.h"

namespace lumoradex {

// A release staged in the folders this process installs in, which stay locked against any other run
// until it is committed or dropped; dropped, it takes its temporary files with it.
struct StagedRelease {
    std::vector<std::unique_ptr<FolderLock>> locks; // first: released after the files go
    std::vector<StagedFile> files;
};

class ReleaseInstallation {
public:
    ReleaseInstallation(UpdateServices services, InstallProgress& progress);

    // Every file staged in the working folder, and in the installation folder when mirror is set
    // and it gets copies; nothing when any file failed or another run holds a folder, and then no
    // installed file has changed.
    std::optional<StagedRelease> Stage(bool mirror);
    // Asks the application to close, then commits; false when the commit failed and was undone.
    bool CommitClosingTheApplication(StagedRelease staged);
    // Stages, then commits; false when anything failed, and then no installed file has changed.
    // With mirror off, the part an elevated instance does in the installation folder.
    bool Install(bool mirror);

private:
    bool Lock(const std::string& folder, StagedRelease& staged);
    bool FinishInterruptedCommits(bool mirror);
    std::optional<bool> Mirrored(bool mirror);
    bool LoadSignedRelease();
    std::optional<ReleaseList> FetchProvenRelease();
    std::optional<std::string> FetchSignedText(const char* listName, const char* signatureName);

    UpdateServices services_;
    InstallProgress& progress_;
    std::optional<ReleaseList> signedRelease_; // the proven list of this run, in signed mode
};

} // namespace lumoradex
