#pragma once
// The staging of a release: every file of the update downloaded into its temporary file beside the
// installed one (and beside the installation folder's copy, where that folder gets one), flushed and
// checked before any installed file is touched. Each file's disk work runs on a thread of its own
// while the next file downloads. Platform-free; what an adapter throws fails the file it was for.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "updater/install/file_download.h"
#include "updater/install/file_plan.h"
#include "updater/install/installed_digests.h"
#include "updater/install/job_thread.h"
#include "updater/install/staged_file.h"
#include "updater/install/update_services.h"
#include "updater/ports/install_progress.h"
#include "updater/ports/transfer.h"
#include "updater/release/release_list.h"

namespace lumoradex {

class ReleaseStaging {
public:
    // signedRelease: the proven list in signed mode; mirror: whether the installation folder gets
    // its copies.
    ReleaseStaging(UpdateServices services, InstallProgress& progress, const std::optional<ReleaseList>& signedRelease,
                   bool mirror);

    // Every file of the release staged, in the list's order, the installation folder's copy of a file
    // before its working folder's; nothing when any file failed, and then no temporary file is left.
    std::optional<std::vector<StagedFile>> StageAll();

private:
    // A file whose body has arrived: what is left to do is the disk's work.
    struct Received {
        std::string name;
        std::vector<StagedFile> files; // written, still held, not yet flushed
        std::int64_t size = 0;
        std::optional<ReleaseFile> proof; // the listed size and digest, in signed mode
        Sha256Digest sha256{};            // of what arrived, in signed mode
    };
    // What an earlier run kept of a file: its copies' temporaries holding the first bytes of its body,
    // hashed; the digest when they hold it whole and proven.
    struct KeptBody {
        std::vector<StagedFile> files;
        std::unique_ptr<Sha256Hash> hash;
        std::uint64_t held = 0;
        std::optional<Sha256Digest> sha256;
    };
    struct NothingToStage {}; // left out of the release or by the server, or every copy current already
    struct FetchFailed {};
    using Fetched = std::variant<Received, NothingToStage, FetchFailed>;
    // A file's disk work, once done: its staged copies, or nothing when it failed.
    using StagedCopies = std::optional<std::vector<StagedFile>>;
    using DiskThread = JobThread<StagedCopies>;

    Fetched FetchFile(const std::string& name);
    Fetched FetchSigned(const std::string& name, const ReleaseFile& listed, std::vector<std::string> targets);
    std::optional<KeptBody> TakeKept(const std::string& name, const ReleaseFile& listed,
                                     const std::vector<std::string>& targets);
    const ReleaseFile* Listed(const std::string& name) const;
    std::vector<std::string> TargetsOf(const std::string& name) const;
    bool WorthHashing(const std::string& name, const ReleaseFile& listed, const std::string& target);
    std::vector<std::string> CopiesWorthHashing();
    std::vector<InstalledCopy> HashCopies(const std::string& name, const ReleaseFile& listed,
                                          const std::vector<std::string>& targets);
    std::optional<std::vector<StagedFile>> CreateTemporaries(const std::string& name,
                                                             const std::vector<std::string>& targets);
    FileDownload::NewFiles NewFilesFor(const std::string& name, const std::vector<std::string>& targets);
    void RemoveStale(const std::string& temporary);
    std::optional<Received> PatchToFiles(const std::string& name, const ReleaseFile& listed, const ReleasePatch& patch,
                                         const std::vector<std::string>& targets);
    Fetched DownloadToFiles(const std::string& name, FileDownload::NewFiles newFiles, const std::string& published,
                            const std::optional<ReleaseFile>& proof, std::optional<KeptBody> kept = std::nullopt,
                            bool resumes = true);
    BodyPlan PlanBody(const std::string& name, const std::optional<ReleaseFile>& proof,
                      std::optional<std::uint64_t> announced);
    std::uint64_t RoomPerCopy(const std::string& name);
    StagedCopies StageReceived(Received received);
    std::optional<StagedCopies> HandToDisk(DiskThread* disk, Received received);
    StagedCopies AwaitStaged(DiskThread& disk);

    UpdateServices services_;
    InstallProgress& progress_;
    const std::optional<ReleaseList>& signedRelease_;
    bool mirror_;
    std::unique_ptr<InstalledDigests> digests_; // in signed mode, from the first file on
};

} // namespace lumoradex
