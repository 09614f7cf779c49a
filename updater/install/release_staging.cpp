#include "updater/install/release_staging.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <chrono>
#include <functional>
#include <iterator>
#include <utility>

#include "base/failure_rule.h"
#include "base/step_failure.h"
#include "updater/install/background_sha256.h"
#include "updater/install/download_decision.h"
#include "updater/install/file_plan.h"
#include "updater/install/installed_digests.h"
#include "updater/patch/patch_application.h"
#include "updater/release/installation_folder.h"
#include "updater/release/server_addresses.h"
#include "updater/release/update_file_list.h"

namespace lumoradex {
namespace {

constexpr char kTemporaryPrefix[] = "New";
constexpr char kPatchSuffix[] = ".vcdiff";
constexpr int kPollMilliseconds = 100;
// The busy flag must fall once a transfer is over; the request time-out bounds the wait.
constexpr int kMaxBusyPolls = 600;

// Where a file's patch waits while it is applied: in the folder this process works in.
std::string PatchTemporaryOf(const std::string& name) {
    return kTemporaryPrefix + name + kPatchSuffix;
}

std::string ProgressMessage(const std::string& name) {
    return "Veuillez patienter, téléchargement en cours (" + name + ")";
}

// Streams a body into the temporary files chunk by chunk, so that memory stays bounded whatever the
// file's size, and keeps the window painted between chunks. The installation folder's copy is
// written from the same bytes, never read back from the working folder's. A signed release's file
// is hashed as it streams in. The body's plan bounds the files: they never grow past the plan's size,
// whatever the transfer lets through.
class TemporaryFileSink final : public DownloadSink {
public:
    using Planner = std::function<BodyPlan(std::optional<std::uint64_t> announced)>;

    TemporaryFileSink(const std::vector<StagedFile>& files, const UpdateServices& services, Sha256Hash* hash,
                      Planner planner, std::function<void()> firstBytes)
        : files_(files), services_(services), hash_(hash), planner_(std::move(planner)),
          firstBytes_(std::move(firstBytes)) {}

    BodyPlan Expect(std::optional<std::uint64_t> announced) override {
        plan_ = planner_(announced);
        return plan_;
    }
    void Write(const std::byte* data, std::size_t size) override {
        if (plan_.decision != BodyPlan::Decision::Read || (plan_.maxBytes && size > *plan_.maxBytes - written_))
            throw StepFailure("Body past its plan", 0);
        if (written_ == 0 && size > 0)
            firstBytes_();
        for (const StagedFile& file : files_)
            file.temporary.Writer().Write(data, size);
        if (hash_)
            hash_->Add(data, size);
        written_ += size;
    }
    void BetweenChunks() override { services_.KeepPainted(); }
    std::int64_t Written() const { return static_cast<std::int64_t>(written_); }

private:
    const std::vector<StagedFile>& files_;
    const UpdateServices& services_;
    Sha256Hash* hash_;
    Planner planner_;
    std::function<void()> firstBytes_;
    BodyPlan plan_{BodyPlan::Decision::Fail, std::nullopt}; // nothing is written before the plan
    std::uint64_t written_ = 0;
};

} // namespace

ReleaseStaging::ReleaseStaging(UpdateServices services, InstallProgress& progress,
                               const std::optional<ReleaseList>& signedRelease, bool mirror)
    : services_(services), progress_(progress), signedRelease_(signedRelease), mirror_(mirror) {}

// The first failure ends the staging: nothing of the release will be installed, so nothing more is
// downloaded, and every temporary file of the run goes with what was staged.
std::optional<std::vector<StagedFile>> ReleaseStaging::StageAll() {
    std::vector<StagedFile> staged;
    bool failed = false;
    std::unique_ptr<DiskThread> disk;
    SkipOnFailure([&] { disk = std::make_unique<DiskThread>(); });
    bool diskBusy = false; // with the previous file
    const auto collect = [&](StagedCopies done) {
        failed |= !done;
        if (done)
            std::ranges::move(*done, std::back_inserter(staged));
    };
    for (std::string_view listed : kUpdateFileList) {
        if (failed)
            break;
        Fetched fetched = FetchFailed{};
        SkipOnFailure([&] { fetched = FetchFile(std::string(listed)); });
        failed |= std::holds_alternative<FetchFailed>(fetched);
        if (diskBusy)
            collect(AwaitStaged(*disk));
        diskBusy = false;
        // A file received once the staging has failed goes with fetched.
        if (Received* received = std::get_if<Received>(&fetched); received && !failed) {
            std::optional<StagedCopies> stagedHere = HandToDisk(disk.get(), std::move(*received));
            diskBusy = !stagedHere;
            if (stagedHere)
                collect(std::move(*stagedHere));
        }
    }
    if (diskBusy)
        collect(AwaitStaged(*disk));
    if (failed)
        return std::nullopt;
    return staged;
}

// A stale temporary file of an interrupted run is removed before anything else; if it cannot be,
// the file fails. Nothing is staged for a file the signed list leaves out: it is not part of the
// release, and the installed copy stays; nor for one whose installed copies are all current already.
ReleaseStaging::Fetched ReleaseStaging::FetchFile(const std::string& name) {
    const ReleaseFile* listed = Listed(name);
    if (signedRelease_ && !listed)
        return NothingToStage{};
    std::vector<std::string> targets = TargetsOf(name);
    for (const std::string& target : targets)
        RemoveStale(PrefixedSibling(target, kTemporaryPrefix));
    RemoveStale(PatchTemporaryOf(name));
    progress_.SetMessage(ProgressMessage(name));
    if (services_.window)
        services_.window->FlushMessages();
    if (listed)
        return FetchSigned(name, *listed, std::move(targets));
    std::optional<std::vector<StagedFile>> files = CreateTemporaries(name, targets);
    if (!files)
        return FetchFailed{};
    return DownloadToFiles(name, std::move(*files), name, std::nullopt);
}

// A file offered one patch only is patched at once, without hashing its installed copy first. Only
// when that fails is the copy hashed, to tell a copy that is current already from one the patch was
// not made for.
ReleaseStaging::Fetched ReleaseStaging::FetchSigned(const std::string& name, const ReleaseFile& listed,
                                                    std::vector<std::string> targets) {
    const ReleasePatch* firstPatch = PatchBeforeHashing(signedRelease_->patches, name);
    std::optional<Received> patched;
    if (firstPatch && services_.environment.OrdinaryFileExists(targets.front()))
        SkipOnFailure([&] { patched = PatchToFiles(name, listed, *firstPatch, targets); });
    if (patched)
        return std::move(*patched);
    const CopiesPlan plan =
        PlanForCopies(listed, signedRelease_->patches, name, HashCopies(name, listed, targets), firstPatch);
    if (plan.targets.empty())
        return NothingToStage{};
    if (plan.patch)
        SkipOnFailure([&] { patched = PatchToFiles(name, listed, *plan.patch, plan.targets); });
    if (patched)
        return std::move(*patched);
    std::optional<std::vector<StagedFile>> files = CreateTemporaries(name, plan.targets);
    if (!files)
        return FetchFailed{};
    return DownloadToFiles(name, std::move(*files), name, listed);
}

const ReleaseFile* ReleaseStaging::Listed(const std::string& name) const {
    if (!signedRelease_)
        return nullptr;
    const auto listed = signedRelease_->files.find(name);
    return listed != signedRelease_->files.end() ? &listed->second : nullptr;
}

// The installation folder's copy first, when it gets one.
std::vector<std::string> ReleaseStaging::TargetsOf(const std::string& name) const {
    std::vector<std::string> targets;
    if (mirror_)
        targets.push_back(std::string(kInstallationFolder) + "\\" + name);
    targets.push_back(name);
    return targets;
}

// Nothing when any of them cannot be created; those created by then go again.
std::optional<std::vector<StagedFile>> ReleaseStaging::CreateTemporaries(const std::string& name,
                                                                         const std::vector<std::string>& targets) {
    std::vector<StagedFile> files;
    for (const std::string& target : targets) {
        if (!SkipOnFailure([&] {
                files.push_back({name, target,
                                 TemporaryFile(services_.files, PrefixedSibling(target, kTemporaryPrefix)),
                                 target != name});
            }))
            return std::nullopt;
    }
    return files;
}

void ReleaseStaging::RemoveStale(const std::string& temporary) {
    if (services_.environment.OrdinaryFileExists(temporary))
        services_.files.Delete(temporary);
}

// The installed copies' digests, where worth hashing (a copy that has the listed size may be current
// already, and any copy may be patched), waited for while the window keeps painting.
std::vector<InstalledCopy> ReleaseStaging::HashCopies(const std::string& name, const ReleaseFile& listed,
                                                      const std::vector<std::string>& targets) {
    if (!digests_)
        digests_ =
            std::make_unique<InstalledDigests>(services_.files, *services_.releaseVerifier, CopiesWorthHashing());
    std::vector<InstalledCopy> copies;
    for (const std::string& target : targets) {
        copies.push_back({target, WorthHashing(name, listed, target)
                                      ? digests_->Get(target, [&] { services_.KeepPainted(); })
                                      : std::nullopt});
    }
    services_.Mark(TracePoint::InstalledHashed, name);
    return copies;
}

// A copy that may be current (it has the listed size) or may be patched.
bool ReleaseStaging::WorthHashing(const std::string& name, const ReleaseFile& listed, const std::string& target) {
    return HoldsUnlessFailed([&] {
        return services_.environment.OrdinaryFileExists(target) &&
               (signedRelease_->patches.contains(name) || services_.files.Length(target) == listed.size);
    });
}

// The copies hashed ahead, in the order the files are fetched: those worth hashing, except where a
// patch is tried first.
std::vector<std::string> ReleaseStaging::CopiesWorthHashing() {
    std::vector<std::string> copies;
    for (std::string_view listedName : kUpdateFileList) {
        const std::string name(listedName);
        const ReleaseFile* listed = Listed(name);
        if (!listed || PatchBeforeHashing(signedRelease_->patches, name))
            continue;
        for (const std::string& target : TargetsOf(name)) {
            if (WorthHashing(name, *listed, target))
                copies.push_back(target);
        }
    }
    return copies;
}

// The patch is downloaded into a temporary file of its own, held like the others, and proven by its
// listed size and digest before a byte of it is decoded. The new file it makes is proven here, by
// the file's listed size and digest, before it may stand for a download: nothing is returned when
// anything fails, and the caller downloads the whole file instead.
std::optional<ReleaseStaging::Received> ReleaseStaging::PatchToFiles(const std::string& name, const ReleaseFile& listed,
                                                                     const ReleasePatch& patch,
                                                                     const std::vector<std::string>& targets) {
    std::vector<StagedFile> patchFile;
    patchFile.push_back({name, name, TemporaryFile(services_.files, PatchTemporaryOf(name)), false});
    Fetched fetched =
        DownloadToFiles(name, std::move(patchFile), PatchPath(name, patch.from), ReleaseFile{patch.sha256, patch.size});
    const Received* received = std::get_if<Received>(&fetched);
    if (!received || received->size != patch.size || received->sha256 != patch.sha256)
        return std::nullopt;
    std::optional<std::vector<StagedFile>> files;
    std::optional<Received> patched;
    SkipOnFailure([&] {
        files = CreateTemporaries(name, targets);
        if (!files)
            return;
        const std::unique_ptr<FileReader> installed = services_.files.OpenToRead(targets.front());
        BackgroundSha256 hash(services_.releaseVerifier->StartSha256());
        std::int64_t written = 0;
        ApplyPatch(received->files.front().temporary.Writer(), *installed, static_cast<std::uint64_t>(listed.size),
                   [&](const std::byte* data, std::size_t size) {
                       for (const StagedFile& file : *files)
                           file.temporary.Writer().Write(data, size);
                       hash.Add(data, size);
                       written += static_cast<std::int64_t>(size);
                       services_.KeepPainted();
                   });
        const Sha256Digest digest = hash.Finish();
        if (written == listed.size && digest == listed.sha256)
            patched = Received{name, std::move(*files), written, listed, digest};
    });
    fetched = NothingToStage{}; // the patch goes before the files it failed to make
    if (!patched)
        return std::nullopt;
    services_.Mark(TracePoint::Patched, name);
    return patched;
}

// A transfer that fails or is cut short fails the file, and its partial files go. So does a body
// whose end is not proven, unless the signed size and digest will prove it. Unsigned, an answer that
// is no file of the application (an error status, a length the size tests reject) leaves the
// installed copy as it is: nothing is staged. The digest is finished here, so that no more than one
// file's bytes wait for the hash. proof: the size and digest that will prove the body, in signed mode.
ReleaseStaging::Fetched ReleaseStaging::DownloadToFiles(const std::string& name, std::vector<StagedFile> files,
                                                        const std::string& published,
                                                        const std::optional<ReleaseFile>& proof) {
    std::unique_ptr<Sha256Hash> hash;
    if (proof &&
        !SkipOnFailure([&] { hash = std::make_unique<BackgroundSha256>(services_.releaseVerifier->StartSha256()); }))
        return FetchFailed{};
    TemporaryFileSink sink(
        files, services_, hash.get(),
        [&](std::optional<std::uint64_t> announced) { return PlanBody(name, proof, announced); },
        [&] { services_.Mark(TracePoint::FirstByte, name); });
    DownloadResult result = DownloadResult::Failed;
    services_.Mark(TracePoint::RequestSent, name);
    SkipOnFailure([&] { result = services_.transfer.Download(DownloadUrl(published), sink); });
    WaitWhileTransferBusy();
    services_.Mark(TracePoint::LastByte, name);
    if (!signedRelease_ && (result == DownloadResult::Refused || result == DownloadResult::Declined))
        return NothingToStage{};
    const bool whole = result == DownloadResult::Complete || (result == DownloadResult::Unproven && hash);
    Sha256Digest digest{};
    const bool hashed = whole && SkipOnFailure([&] {
                            if (hash)
                                digest = hash->Finish();
                        });
    if (!hashed)
        return FetchFailed{};
    return Received{name, std::move(files), sink.Written(), proof, digest};
}

// Judged before any byte of the body arrives, from the length the server announces. Unsigned, a
// body must announce its length and pass the size tests against the installed copy; signed, only the
// listed size will do.
BodyPlan ReleaseStaging::PlanBody(const std::string& name, const std::optional<ReleaseFile>& proof,
                                  std::optional<std::uint64_t> announced) {
    if (proof)
        return SignedBodyPlan(*proof, announced);
    const std::int64_t oldSize = services_.environment.OrdinaryFileExists(name) ? services_.files.Length(name) : 0;
    std::optional<std::uint64_t> room;
    if (oldSize == 0)
        SkipOnFailure([&] { room = RoomPerCopy(name); });
    return UnsignedBodyPlan(announced, oldSize, room);
}

// The least free space any copy of the file has, the copies that go to one drive sharing its space.
std::uint64_t ReleaseStaging::RoomPerCopy(const std::string& name) {
    const std::vector<std::string> targets = TargetsOf(name);
    const std::string workingFolder = services_.environment.CurrentFolder();
    const auto folderOf = [&](const std::string& target) {
        const std::size_t separator = target.find_last_of('\\');
        return separator == std::string::npos ? workingFolder : target.substr(0, separator);
    };
    const auto driveOf = [&](const std::string& target) {
        std::string drive = folderOf(target).substr(0, 2);
        std::ranges::transform(drive, drive.begin(),
                               [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return drive;
    };
    std::uint64_t room = UINT64_MAX;
    for (const std::string& target : targets) {
        const auto copies = static_cast<std::uint64_t>(std::ranges::count_if(
            targets, [&](const std::string& other) { return driveOf(other) == driveOf(target); }));
        room = std::min(room, services_.files.FreeBytes(folderOf(target)) / copies);
    }
    return room;
}

// Flushed before anything may be renamed over an installed file: after a crash of the system the
// name must not point at bytes that never reached the disk. Signed, only the listed size and digest
// decide, whatever the size: a file the list names but the server changed is a failure, never a
// silent rejection, and so is one it refuses (DownloadToFiles). Runs on any thread: it touches the
// files and never the window.
ReleaseStaging::StagedCopies ReleaseStaging::StageReceived(Received received) {
    const bool flushed = SkipOnFailure([&] {
        for (const StagedFile& file : received.files)
            file.temporary.Writer().Flush();
    });
    const bool proven =
        !received.proof || (received.size == received.proof->size && received.sha256 == received.proof->sha256);
    if (!flushed || !proven)
        return std::nullopt;
    services_.Mark(TracePoint::Flushed, received.name);
    return std::move(received.files);
}

// Hands the file's disk work to the thread: nothing is returned then. Without a thread, or the
// memory to hand it over, the work is done here while the link waits, and its outcome returned.
std::optional<ReleaseStaging::StagedCopies> ReleaseStaging::HandToDisk(DiskThread* disk, Received received) {
    std::shared_ptr<Received> file; // shared, as a job is a copyable function and a file's writers are not
    if (disk && SkipOnFailure([&] {
            file = std::make_shared<Received>(std::move(received));
            disk->Start([this, file] { return StageReceived(std::move(*file)); });
        }))
        return std::nullopt;
    return StageReceived(file ? std::move(*file) : std::move(received));
}

// The window keeps painting while the disk finishes a file; the wait ends the moment the work does.
ReleaseStaging::StagedCopies ReleaseStaging::AwaitStaged(DiskThread& disk) {
    std::optional<StagedCopies> staged;
    while (!(staged = disk.WaitFor(std::chrono::milliseconds(kPollMilliseconds))))
        services_.KeepPainted();
    return std::move(*staged);
}

// The flag is tested before the first sleep, so an idle transfer costs no delay.
void ReleaseStaging::WaitWhileTransferBusy() {
    for (int poll = 0; poll < kMaxBusyPolls && services_.transfer.StillExecuting(); ++poll) {
        services_.process.Sleep(kPollMilliseconds);
        services_.KeepPainted();
    }
}

} // namespace lumoradex
