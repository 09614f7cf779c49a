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
#include "updater/install/file_download.h"
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
constexpr std::size_t kCopyChunk = 64 * 1024;

// Where a file's patch waits while it is applied: in the folder this process works in.
std::string PatchTemporaryOf(const std::string& name) {
    return kTemporaryPrefix + name + kPatchSuffix;
}

std::string ProgressMessage(const std::string& name) {
    return "Veuillez patienter, téléchargement en cours (" + name + ")";
}

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
// the file fails. Signed, what an earlier run kept of a listed file is looked at first (FetchSigned).
// Nothing is staged for a file the signed list leaves out: it is not part of the release, and the
// installed copy stays; nor for one whose installed copies are all current already.
ReleaseStaging::Fetched ReleaseStaging::FetchFile(const std::string& name) {
    const ReleaseFile* listed = Listed(name);
    std::vector<std::string> targets = TargetsOf(name);
    if (!listed) {
        for (const std::string& target : targets)
            RemoveStale(PrefixedSibling(target, kTemporaryPrefix));
    }
    RemoveStale(PatchTemporaryOf(name));
    if (signedRelease_ && !listed)
        return NothingToStage{};
    progress_.SetMessage(ProgressMessage(name));
    if (services_.window)
        services_.window->FlushMessages();
    if (listed)
        return FetchSigned(name, *listed, std::move(targets));
    return DownloadToFiles(name, NewFilesFor(name, targets), name, std::nullopt);
}

// A file an earlier run kept whole and proven is staged as it is, and one it kept in part goes on
// from there. Else a file offered one patch only is patched at once, without hashing its installed
// copy first. Only when that fails is the copy hashed, to tell a copy that is current already from
// one the patch was not made for.
ReleaseStaging::Fetched ReleaseStaging::FetchSigned(const std::string& name, const ReleaseFile& listed,
                                                    std::vector<std::string> targets) {
    if (std::optional<KeptBody> kept = TakeKept(name, listed, targets)) {
        if (kept->sha256)
            return Received{name, std::move(kept->files), listed.size, listed, *kept->sha256};
        return DownloadToFiles(name, NewFilesFor(name, targets), name, listed, std::move(kept));
    }
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
    return DownloadToFiles(name, NewFilesFor(name, plan.targets), name, listed);
}

// What an earlier run kept of the file, in its first copy's temporary: a plain file of this name
// only (InstallationFiles::Reopen), anything else there removed. Every byte of it is hashed, and
// copied to the other copies' new temporaries, before it may stand for any part of the body: a body
// as long as the listed size must prove itself whole, a shorter one is gone on with and proven once
// whole; one longer, empty or proving wrong goes. The other copies' temporaries go in any case.
std::optional<ReleaseStaging::KeptBody> ReleaseStaging::TakeKept(const std::string& name, const ReleaseFile& listed,
                                                                 const std::vector<std::string>& targets) {
    for (std::size_t copy = 1; copy < targets.size(); ++copy)
        RemoveStale(PrefixedSibling(targets[copy], kTemporaryPrefix));
    const std::string path = PrefixedSibling(targets.front(), kTemporaryPrefix);
    std::optional<TemporaryFile> first = TemporaryFile::Reopen(services_.files, path);
    if (!first) {
        RemoveStale(path);
        return std::nullopt;
    }
    const std::uint64_t held = first->Writer().Size();
    if (held == 0 || held > static_cast<std::uint64_t>(listed.size)) {
        first->Discard();
        return std::nullopt;
    }
    KeptBody kept{{}, std::make_unique<BackgroundSha256>(services_.releaseVerifier->StartSha256()), held, {}};
    kept.files.push_back({name, targets.front(), std::move(*first), targets.front() != name});
    std::optional<std::vector<StagedFile>> others =
        CreateTemporaries(name, std::vector<std::string>(targets.begin() + 1, targets.end()));
    if (!others)
        throw StepFailure("Temporary file of a copy: " + name, 0);
    std::ranges::move(*others, std::back_inserter(kept.files));
    std::vector<std::byte> chunk(kCopyChunk);
    for (std::uint64_t at = 0; at < held;) {
        const std::size_t read = kept.files.front().temporary.Writer().ReadAt(at, chunk.data(), chunk.size());
        if (read == 0)
            throw StepFailure("Kept file shorter than its size: " + path, 0);
        kept.hash->Add(chunk.data(), read);
        for (std::size_t copy = 1; copy < kept.files.size(); ++copy)
            kept.files[copy].temporary.Writer().Write(chunk.data(), read);
        at += read;
        services_.KeepPainted();
    }
    if (held < static_cast<std::uint64_t>(listed.size))
        return kept;
    if (const Sha256Digest digest = kept.hash->Finish(); digest == listed.sha256) {
        kept.sha256 = digest;
        return kept;
    }
    for (StagedFile& file : kept.files)
        file.temporary.Discard();
    return std::nullopt;
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

// Nothing when any of them cannot be created; those created by then go again. A signed release's
// are kept when the staging fails: the next run proves them and goes on from there.
std::optional<std::vector<StagedFile>> ReleaseStaging::CreateTemporaries(const std::string& name,
                                                                         const std::vector<std::string>& targets) {
    const auto dropped = signedRelease_ ? TemporaryFile::WhenDropped::Kept : TemporaryFile::WhenDropped::Removed;
    std::vector<StagedFile> files;
    for (const std::string& target : targets) {
        if (!SkipOnFailure([&] {
                files.push_back({name, target,
                                 TemporaryFile(services_.files, PrefixedSibling(target, kTemporaryPrefix), dropped),
                                 target != name});
            }))
            return std::nullopt;
    }
    return files;
}

FileDownload::NewFiles ReleaseStaging::NewFilesFor(const std::string& name, const std::vector<std::string>& targets) {
    return [this, name, targets] { return CreateTemporaries(name, targets); };
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
    const auto patchFile = [&] {
        std::vector<StagedFile> file;
        file.push_back({name, name, TemporaryFile(services_.files, PatchTemporaryOf(name)), false});
        return std::optional(std::move(file));
    };
    Fetched fetched = DownloadToFiles(name, patchFile, PatchPath(name, patch.from), ReleaseFile{patch.sha256, patch.size},
                                      std::nullopt, false);
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
    if (!patched) {
        if (files) {
            for (StagedFile& file : *files)
                file.temporary.Discard();
        }
        return std::nullopt;
    }
    services_.Mark(TracePoint::Patched, name);
    return patched;
}

// A transfer that fails for good fails the file (FileDownload). So does a body whose end is not
// proven, unless the signed size and digest will prove it. Unsigned, an answer that is no file of the
// application (an error status, a length the size tests reject) leaves the installed copy as it is:
// nothing is staged. proof: the size and digest that will prove the body, in signed mode; kept: the
// part of it an earlier run left; resumes: false for a patch, which is only a shortcut: the whole
// file stands behind it.
ReleaseStaging::Fetched ReleaseStaging::DownloadToFiles(const std::string& name, FileDownload::NewFiles newFiles,
                                                        const std::string& published,
                                                        const std::optional<ReleaseFile>& proof,
                                                        std::optional<KeptBody> kept, bool resumes) {
    FileDownload download(
        services_, name, DownloadUrl(published), proof, resumes,
        [&](std::optional<std::uint64_t> announced) { return PlanBody(name, proof, announced); }, std::move(newFiles));
    if (kept)
        download.GoOnFrom(std::move(kept->files), std::move(kept->hash), kept->held);
    DownloadedBody body = download.Receive();
    if (!signedRelease_ && (body.result == DownloadResult::Refused || body.result == DownloadResult::Declined))
        return NothingToStage{};
    const bool whole =
        body.result == DownloadResult::Complete || (body.result == DownloadResult::Unproven && proof);
    if (!whole || (proof && !body.sha256))
        return FetchFailed{};
    return Received{name, std::move(body.files), body.size, proof, body.sha256.value_or(Sha256Digest{})};
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
    if (!proven) {
        for (StagedFile& file : received.files)
            file.temporary.Discard();
    }
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

} // namespace lumoradex
