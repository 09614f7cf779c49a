#include "updater/install/release_staging.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <utility>

#include "base/failure_rule.h"
#include "base/step_failure.h"
#include "updater/install/background_sha256.h"
#include "updater/install/download_decision.h"
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

// "New" + the name, in the target's folder.
std::string TemporaryOf(const std::string& target) {
    const std::size_t nameStart = target.find_last_of('\\') + 1;
    return target.substr(0, nameStart) + kTemporaryPrefix + target.substr(nameStart);
}

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
            file.held->Write(data, size);
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

// A file whose body has arrived: what is left to do is the disk's work.
struct ReleaseStaging::Received {
    std::string name;
    std::vector<StagedFile> files; // written, still held, not yet flushed
    DownloadResult result;
    std::int64_t size;
    Sha256Digest sha256; // in signed mode only
};

// The installation folder gets copies when the run works elsewhere and an installation is there.
// The folder is recognised by identity, not by its spelling: "c:\program files\lumoradexv4", its
// short name or a trailing separator name it too, and a copy onto itself is pointless.
ReleaseStaging::ReleaseStaging(UpdateServices services, InstallProgress& progress,
                               const std::optional<ReleaseList>& signedRelease, bool mirror)
    : services_(services), progress_(progress), signedRelease_(signedRelease), mirror_(mirror) {
    mirror_ = mirror && HoldsUnlessFailed([&] {
                  return !services_.files.SameFolder(services_.environment.CurrentFolder(),
                                                     std::string(kInstallationFolder)) &&
                         services_.environment.OrdinaryFileExists(std::string(kInstalledExecutable));
              });
}

// The first failure ends the staging: nothing of the release will be installed, so nothing more is
// downloaded, and every temporary file of the run goes.
std::optional<std::vector<StagedFile>> ReleaseStaging::StageAll() {
    std::vector<StagedFile> staged;
    bool failed = false;
    std::unique_ptr<DiskThread> disk;
    SkipOnFailure([&] { disk = std::make_unique<DiskThread>(); });
    bool diskBusy = false; // with the previous file
    const auto collect = [&](Staged done) {
        failed |= done.failed;
        for (StagedFile& file : done.files)
            staged.push_back(std::move(file));
    };
    for (std::string_view listed : kUpdateFileList) {
        if (failed)
            break;
        std::optional<Received> received;
        failed |= !SkipOnFailure([&] { received = FetchFile(std::string(listed)); });
        if (diskBusy)
            collect(AwaitStaged(*disk));
        diskBusy = false;
        if (received && failed) {
            Discard(received->files);
        } else if (received) {
            std::optional<Staged> stagedHere = HandToDisk(disk.get(), std::move(*received));
            diskBusy = !stagedHere;
            if (stagedHere)
                collect(std::move(*stagedHere));
        }
    }
    if (diskBusy)
        collect(AwaitStaged(*disk));
    if (failed) {
        Discard(staged);
        return std::nullopt;
    }
    return staged;
}

// A stale temporary file of an interrupted run is removed before anything else; if it cannot be,
// the file fails. Nothing is returned for a file the signed list leaves out: it is not part of the
// release, and the installed copy stays; nor for one whose installed copies are all current already.
std::optional<ReleaseStaging::Received> ReleaseStaging::FetchFile(const std::string& name) {
    if (signedRelease_ && !signedRelease_->files.contains(name))
        return std::nullopt;
    std::vector<std::string> targets = TargetsOf(name);
    for (const std::string& target : targets)
        RemoveStale(TemporaryOf(target));
    RemoveStale(PatchTemporaryOf(name));
    progress_.SetMessage(ProgressMessage(name));
    if (services_.window)
        services_.window->FlushMessages();
    if (signedRelease_) {
        const ReleasePatch* onlyPatch = OnlyPatchOf(name);
        std::optional<Received> patched;
        if (onlyPatch && services_.environment.OrdinaryFileExists(targets.front()))
            SkipOnFailure([&] { patched = PatchToFiles(name, *onlyPatch, targets); });
        if (patched)
            return patched;
        const std::optional<Sha256Digest> installed = LeaveOutCurrentCopies(name, targets);
        if (targets.empty())
            return std::nullopt;
        const ReleasePatch* patch = installed ? FindPatch(name, *installed) : nullptr;
        if (patch && patch != onlyPatch)
            SkipOnFailure([&] { patched = PatchToFiles(name, *patch, targets); });
        if (patched)
            return patched;
    }
    return DownloadToFiles(name, NewTemporaries(name, targets));
}

// A file offered one patch only is patched at once, without hashing its installed copy first: the
// new file the patch makes is proven anyway, and the hash would take as long again. Only when that
// fails is the copy hashed, to tell a copy that is current already from one the patch was not made
// for.
const ReleasePatch* ReleaseStaging::OnlyPatchOf(const std::string& name) const {
    const auto offered = signedRelease_->patches.find(name);
    return offered != signedRelease_->patches.end() && offered->second.size() == 1 ? &offered->second.front() : nullptr;
}

// The installation folder's copy first, when it gets one.
std::vector<std::string> ReleaseStaging::TargetsOf(const std::string& name) const {
    std::vector<std::string> targets;
    if (mirror_)
        targets.push_back(std::string(kInstallationFolder) + "\\" + name);
    targets.push_back(name);
    return targets;
}

std::vector<StagedFile> ReleaseStaging::NewTemporaries(const std::string& name,
                                                       const std::vector<std::string>& targets) {
    std::vector<StagedFile> temporaries;
    for (const std::string& target : targets)
        temporaries.push_back({name, target, TemporaryOf(target), nullptr, target != name});
    return temporaries;
}

void ReleaseStaging::RemoveStale(const std::string& temporary) {
    if (services_.environment.OrdinaryFileExists(temporary))
        services_.files.Delete(temporary);
}

// A copy that already has the listed size and digest is left as it is. Returns the digest the
// copies left to replace share, if they share one: a patch from it makes the new file for all of them.
std::optional<Sha256Digest> ReleaseStaging::LeaveOutCurrentCopies(const std::string& name,
                                                                  std::vector<std::string>& targets) {
    if (!digests_)
        digests_ =
            std::make_unique<InstalledDigests>(services_.files, *services_.releaseVerifier, CopiesWorthHashing());
    const Sha256Digest& listed = signedRelease_->files.find(name)->second.sha256;
    std::vector<std::optional<Sha256Digest>> digests;
    std::erase_if(targets, [&](const std::string& target) {
        const std::optional<Sha256Digest> digest =
            WorthHashing(name, target) ? digests_->Get(target, [&] { services_.KeepPainted(); }) : std::nullopt;
        if (digest == listed)
            return true;
        digests.push_back(digest);
        return false;
    });
    services_.Mark(TracePoint::InstalledHashed, name);
    if (digests.empty() || !digests.front() || std::ranges::count(digests, digests.front()) != std::ssize(digests))
        return std::nullopt;
    return digests.front();
}

// A copy that may be current (it has the listed size) or may be patched.
bool ReleaseStaging::WorthHashing(const std::string& name, const std::string& target) {
    return HoldsUnlessFailed([&] {
        return services_.environment.OrdinaryFileExists(target) &&
               (signedRelease_->patches.contains(name) ||
                services_.files.Length(target) == signedRelease_->files.find(name)->second.size);
    });
}

// The copies hashed ahead, in the order the files are fetched: those worth hashing, except where a
// patch is tried first.
std::vector<std::string> ReleaseStaging::CopiesWorthHashing() {
    std::vector<std::string> copies;
    for (std::string_view listedName : kUpdateFileList) {
        const std::string name(listedName);
        if (!signedRelease_->files.contains(name) || OnlyPatchOf(name))
            continue;
        for (const std::string& target : TargetsOf(name)) {
            if (WorthHashing(name, target))
                copies.push_back(target);
        }
    }
    return copies;
}

const ReleasePatch* ReleaseStaging::FindPatch(const std::string& name, const Sha256Digest& installed) const {
    const auto offered = signedRelease_->patches.find(name);
    if (offered == signedRelease_->patches.end())
        return nullptr;
    const auto patch = std::ranges::find(offered->second, installed, &ReleasePatch::from);
    return patch != offered->second.end() ? &*patch : nullptr;
}

// The patch is downloaded into a temporary file of its own, held like the others, and proven by its
// listed size and digest before a byte of it is decoded. The new file it makes is proven here, by
// the file's listed size and digest, before it may stand for a download: nothing is returned when
// anything fails, and the caller downloads the whole file instead.
std::optional<ReleaseStaging::Received> ReleaseStaging::PatchToFiles(const std::string& name, const ReleasePatch& patch,
                                                                     const std::vector<std::string>& targets) {
    const ReleaseFile& listed = signedRelease_->files.find(name)->second;
    std::vector<StagedFile> patchFile;
    patchFile.push_back({name, name, PatchTemporaryOf(name), nullptr, false});
    std::optional<Received> received =
        DownloadToFiles(name, std::move(patchFile), PatchPath(name, patch.from), ReleaseFile{patch.sha256, patch.size});
    if (!received || received->size != patch.size || received->sha256 != patch.sha256) {
        if (received)
            Discard(received->files);
        return std::nullopt;
    }
    std::vector<StagedFile> temporaries = NewTemporaries(name, targets);
    std::optional<Received> patched;
    SkipOnFailure([&] {
        for (StagedFile& file : temporaries)
            file.held = services_.files.Create(file.temporary);
        const std::unique_ptr<FileReader> installed = services_.files.OpenToRead(targets.front());
        BackgroundSha256 hash(services_.releaseVerifier->StartSha256());
        std::int64_t written = 0;
        ApplyPatch(*received->files.front().held, *installed, static_cast<std::uint64_t>(listed.size),
                   [&](const std::byte* data, std::size_t size) {
                       for (StagedFile& file : temporaries)
                           file.held->Write(data, size);
                       hash.Add(data, size);
                       written += static_cast<std::int64_t>(size);
                       services_.KeepPainted();
                   });
        const Sha256Digest digest = hash.Finish();
        if (written == listed.size && digest == listed.sha256)
            patched = Received{name, std::move(temporaries), DownloadResult::Complete, written, digest};
    });
    Discard(received->files);
    if (!patched) {
        Discard(temporaries);
        return std::nullopt;
    }
    services_.Mark(TracePoint::Patched, name);
    return patched;
}

// A transfer that fails or is cut short leaves partial files: they are removed, and the failure
// ends the file. So does a body whose end is not proven, unless the signed size and digest will
// prove it. Unsigned, an answer that is no file of the application (an error status, a length the
// size tests reject) leaves the installed copy as it is: nothing is returned. The digest is finished
// here, so that no more than one file's bytes wait for the hash.
std::optional<ReleaseStaging::Received> ReleaseStaging::DownloadToFiles(const std::string& name,
                                                                        std::vector<StagedFile> temporaries) {
    const ReleaseFile* listed = signedRelease_ ? &signedRelease_->files.find(name)->second : nullptr;
    return DownloadToFiles(name, std::move(temporaries), name,
                           listed ? std::optional<ReleaseFile>(*listed) : std::nullopt);
}

// signedFile: the size and digest that will prove the body, in signed mode.
std::optional<ReleaseStaging::Received> ReleaseStaging::DownloadToFiles(const std::string& name,
                                                                        std::vector<StagedFile> temporaries,
                                                                        const std::string& published,
                                                                        const std::optional<ReleaseFile>& signedFile) {
    std::unique_ptr<Sha256Hash> hash =
        signedFile ? std::make_unique<BackgroundSha256>(services_.releaseVerifier->StartSha256()) : nullptr;
    const bool created = SkipOnFailure([&] {
        for (StagedFile& file : temporaries)
            file.held = services_.files.Create(file.temporary);
    });
    if (!created) {
        Discard(temporaries);
        throw StepFailure("Temporary file of " + name, 0);
    }
    TemporaryFileSink sink(
        temporaries, services_, hash.get(),
        [&](std::optional<std::uint64_t> announced) { return PlanBody(name, signedFile, announced); },
        [&] { services_.Mark(TracePoint::FirstByte, name); });
    DownloadResult result = DownloadResult::Failed;
    services_.Mark(TracePoint::RequestSent, name);
    SkipOnFailure([&] { result = services_.transfer.Download(DownloadUrl(published), sink); });
    WaitWhileTransferBusy();
    services_.Mark(TracePoint::LastByte, name);
    const bool leftOut = !signedRelease_ && (result == DownloadResult::Refused || result == DownloadResult::Declined);
    const bool whole = result == DownloadResult::Complete || (result == DownloadResult::Unproven && hash);
    Sha256Digest digest{};
    const bool hashed = whole && SkipOnFailure([&] {
                            if (hash)
                                digest = hash->Finish();
                        });
    if (leftOut || !hashed) {
        Discard(temporaries);
        if (leftOut)
            return std::nullopt;
        throw StepFailure("Download of " + name, 0);
    }
    return Received{name, std::move(temporaries), result, sink.Written(), digest};
}

// Judged before any byte of the body arrives, from the length the server announces. Unsigned, a
// body must announce its length and pass the size tests against the installed copy; signed, only the
// listed size will do.
BodyPlan ReleaseStaging::PlanBody(const std::string& name, const std::optional<ReleaseFile>& signedFile,
                                  std::optional<std::uint64_t> announced) {
    if (signedFile)
        return SignedBodyPlan(*signedFile, announced);
    const std::int64_t oldSize = services_.environment.OrdinaryFileExists(name) ? services_.files.Length(name) : 0;
    std::optional<std::uint64_t> freeBytes;
    if (oldSize == 0)
        SkipOnFailure([&] { freeBytes = services_.files.FreeBytes(services_.environment.CurrentFolder()); });
    return UnsignedBodyPlan(announced, oldSize, freeBytes);
}

// Flushed before anything may be renamed over an installed file: after a crash of the system the
// name must not point at bytes that never reached the disk. Signed, only the listed size and digest
// decide, whatever the size: a file the list names but the server changed is a failure, never a
// silent rejection, and so is one it refuses (DownloadToFiles). Runs on any thread: it touches the
// files and never the window.
std::vector<StagedFile> ReleaseStaging::StageReceived(Received received) {
    const std::string& name = received.name;
    const bool flushed = SkipOnFailure([&] {
        for (StagedFile& file : received.files)
            file.held->Flush();
    });
    const ReleaseFile* listed = signedRelease_ ? &signedRelease_->files.find(name)->second : nullptr;
    const bool proven = !listed || (received.size == listed->size && received.sha256 == listed->sha256);
    if (!flushed || !proven) {
        Discard(received.files);
        throw StepFailure((flushed ? "Signed content of " : "Flush of ") + name, 0);
    }
    services_.Mark(TracePoint::Flushed, name);
    return std::move(received.files);
}

ReleaseStaging::Staged ReleaseStaging::StageHere(Received received) {
    Staged staged;
    staged.failed = !SkipOnFailure([&] { staged.files = StageReceived(std::move(received)); });
    return staged;
}

// Hands the file's disk work to the thread. Without a thread, or the memory to hand it over, the
// work is done here while the link waits, and its outcome returned.
std::optional<ReleaseStaging::Staged> ReleaseStaging::HandToDisk(DiskThread* disk, Received received) {
    std::shared_ptr<Received> file; // shared, as a job is a copyable function and a file's writers are not
    if (disk && SkipOnFailure([&] {
            file = std::make_shared<Received>(std::move(received));
            disk->Start([this, file] { return StageHere(std::move(*file)); });
        }))
        return std::nullopt;
    return StageHere(file ? std::move(*file) : std::move(received));
}

// The window keeps painting while the disk finishes a file; the wait ends the moment the work does.
ReleaseStaging::Staged ReleaseStaging::AwaitStaged(DiskThread& disk) {
    std::optional<Staged> staged;
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

// Only what this run created and still holds is removed. A temporary file that cannot be deleted
// now goes at the next run, which removes it before the download.
void ReleaseStaging::Discard(std::vector<StagedFile>& files) {
    for (StagedFile& file : files) {
        if (!file.held)
            continue;
        file.held.reset();
        SkipOnFailure([&] { services_.files.Delete(file.temporary); });
    }
    files.clear();
}

} // namespace lumoradex
