#pragma once
// The staging of a release: every file of the update downloaded into its temporary file beside the
// installed one (and beside the installation folder's copy, where that folder gets one), flushed and
// checked before any installed file is touched. Each file's disk work runs on a thread of its own
// while the next file downloads. Platform-free.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "updater/install/installed_digests.h"
#include "updater/install/job_thread.h"
#include "updater/install/release_commit.h"
#include "updater/install/update_services.h"
#include "updater/ports/transfer.h"
#include "updater/release/release_list.h"

namespace lumoradex {

class ReleaseStaging {
public:
    // signedRelease: the proven list in signed mode; mirror: whether the installation folder may get
    // its copies (it does when the run works elsewhere and an installation is there).
    ReleaseStaging(UpdateServices services, InstallProgress& progress, const std::optional<ReleaseList>& signedRelease,
                   bool mirror);

    // Every file of the release staged, in the list's order, the installation folder's copy of a file
    // before its working folder's; nothing when any file failed, and then no temporary file is left.
    std::optional<std::vector<StagedFile>> StageAll();

private:
    struct Received;
    struct Staged {
        bool failed = false;
        std::vector<StagedFile> files;
    };
    using DiskThread = JobThread<Staged>;

    std::optional<Received> FetchFile(const std::string& name);
    std::vector<std::string> TargetsOf(const std::string& name) const;
    const ReleasePatch* OnlyPatchOf(const std::string& name) const;
    bool WorthHashing(const std::string& name, const std::string& target);
    std::vector<std::string> CopiesWorthHashing();
    std::vector<StagedFile> NewTemporaries(const std::string& name, const std::vector<std::string>& targets);
    void RemoveStale(const std::string& temporary);
    std::optional<Sha256Digest> LeaveOutCurrentCopies(const std::string& name, std::vector<std::string>& targets);
    const ReleasePatch* FindPatch(const std::string& name, const Sha256Digest& installed) const;
    std::optional<Received> PatchToFiles(const std::string& name, const ReleasePatch& patch,
                                         const std::vector<std::string>& targets);
    std::optional<Received> DownloadToFiles(const std::string& name, std::vector<StagedFile> temporaries);
    std::optional<Received> DownloadToFiles(const std::string& name, std::vector<StagedFile> temporaries,
                                            const std::string& published, const std::optional<ReleaseFile>& signedFile);
    BodyPlan PlanBody(const std::string& name, const std::optional<ReleaseFile>& signedFile,
                      std::optional<std::uint64_t> announced);
    std::vector<StagedFile> StageReceived(Received received);
    Staged StageHere(Received received);
    std::optional<Staged> HandToDisk(DiskThread* disk, Received received);
    Staged AwaitStaged(DiskThread& disk);
    void WaitWhileTransferBusy();
    void Discard(std::vector<StagedFile>& files);

    UpdateServices services_;
    InstallProgress& progress_;
    const std::optional<ReleaseList>& signedRelease_;
    bool mirror_;
    std::unique_ptr<InstalledDigests> digests_; // in signed mode, from the first file on
};

} // namespace lumoradex
