#include "updater/update_run.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <utility>

#include "base/step_failure.h"
#include "updater/background_sha256.h"
#include "updater/download_decision.h"
#include "updater/failure_rule.h"
#include "updater/installation_folder.h"
#include "updater/installation_handoff.h"
#include "updater/server_addresses.h"
#include "updater/signature_der.h"
#include "updater/version_order.h"

namespace lumoradex {
namespace {

constexpr char kApplicationTitle[] = "Lumoradex";
constexpr char kTemporaryPrefix[] = "New";
constexpr char kApplicationCommandLine[] = "Velmor.exe";
constexpr char kUnreadableVersion[] = "0.0.0";
constexpr int kShowMinimized = 2; // minimised, with the focus
constexpr int kPollMilliseconds = 100;
// The busy flag must fall once a transfer is over; the request time-out bounds the wait.
constexpr int kMaxBusyPolls = 600;
// The application takes a moment to close after the close request, seconds when it saves its state.
constexpr int kMaxReplaceRetries = 300;

constexpr char kResultOk[] = "Téléchargements terminés, mise à jour OK";
constexpr char kResultFailed[] = "Téléchargements terminés, Echec de MAJ";
constexpr char kFinishCaption[] = "Terminer";

constexpr char kReleaseListName[] = "release.txt";
constexpr char kReleaseSignatureName[] = "release.sig";
// A DER signature of P-256 takes 72 bytes at most.
constexpr std::size_t kMaxSignatureSize = 256;

std::string ProgressMessage(const std::string& name) {
    return "Veuillez patienter, téléchargement en cours (" + name + ")";
}

// Streams a body into the temporary file chunk by chunk, so that memory stays bounded whatever the
// file's size, and keeps the window painted between chunks. A signed release's file is hashed as it
// streams in, never read back. The body's plan bounds the file: it never grows past the plan's size,
// whatever the transfer lets through.
class TemporaryFileSink final : public DownloadSink {
public:
    using Planner = std::function<BodyPlan(std::optional<std::uint64_t> announced)>;

    TemporaryFileSink(FileWriter& writer, MainWindowItems& window, Sha256Hash* hash, Planner planner,
                      std::function<void()> firstBytes)
        : writer_(writer), window_(window), hash_(hash), planner_(std::move(planner)),
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
        writer_.Write(data, size);
        if (hash_)
            hash_->Add(data, size);
        written_ += size;
    }
    void BetweenChunks() override { window_.RepaintNow(); }
    std::int64_t Written() const { return static_cast<std::int64_t>(written_); }

private:
    FileWriter& writer_;
    MainWindowItems& window_;
    Sha256Hash* hash_;
    Planner planner_;
    std::function<void()> firstBytes_;
    BodyPlan plan_{BodyPlan::Decision::Fail, std::nullopt}; // nothing is written before the plan
    std::uint64_t written_ = 0;
};

// The application's executable in a folder, by its full path: never found by a search elsewhere.
std::string ExecutableIn(const std::string& folder) {
    return folder + (folder.ends_with('\\') ? "" : "\\") + kApplicationCommandLine;
}

} // namespace

// A file whose body has arrived: what is left to do is the disk's work.
struct UpdateRun::Received {
    std::string name;
    std::unique_ptr<FileWriter> writer; // the temporary file, written, still open, not yet flushed
    DownloadResult result;
    std::int64_t size;
    Sha256Digest sha256; // in signed mode only
};

// Which folders this process installs in, and whether an elevated instance installs in the
// installation folder.
struct UpdateRun::Division {
    bool workingFolderHere = true;
    bool mirrorHere = true;
    bool elevated = false;
};

UpdateRun::UpdateRun(UpdateServices services, std::function<void()> recheck)
    : services_(services), recheck_(std::move(recheck)) {}

// Every step runs under the handlers' failure rule; a failing branch test enters its branch.
void UpdateRun::Run() {
    Mark(TracePoint::Click);
    SkipOnFailure([&] { services_.window.SetMiseAJourVisible(false); });
    SkipOnFailure([&] { services_.process.FermerFenetres(kApplicationTitle); });
    Mark(TracePoint::CloseRequestsPosted);
    const Division division = DivideTheWork();
    bool installed = true;
    if (division.workingFolderHere)
        installed = InstallFiles(division.mirrorHere);
    if (division.elevated)
        installed = InstallElevated() && installed;
    Mark(TracePoint::FilesSettled);
    SkipOnFailure(recheck_);
    Mark(TracePoint::Rechecked);
    ReportResult(!installed);
    SkipOnFailure([&] { services_.window.SetActionCaption(kFinishCaption); });
    if (HoldsUnlessFailed([&] { return services_.environment.CommandLine().empty(); })) {
        SkipOnFailure([&] { services_.process.StartProgram(kApplicationCommandLine, kShowMinimized); });
        Mark(TracePoint::ApplicationStarted);
        SkipOnFailure([&] { services_.process.EndProgram(); });
    }
}

// A signed release that is not proven installs nothing at all. The disk's work on one file (flush,
// replacement, mirror copy) runs on a thread of its own while the next file downloads, so that the
// link does not wait for the disk; one file at a time, in the list's order, so that the files are
// replaced in that order and no more than one written file waits for the disk.
bool UpdateRun::InstallFiles(bool mirror) {
    mirror_ = mirror;
    if (!LoadSignedRelease())
        return false;
    bool anyFileFailed = false;
    const std::unique_ptr<Settling> disk = StartDiskThread();
    bool diskBusy = false; // with the previous file
    for (std::string_view listed : kUpdateFileList) {
        std::optional<Received> received;
        const bool fetched = SkipOnFailure([&] { received = FetchFile(std::string(listed)); });
        if (diskBusy)
            anyFileFailed |= AwaitSettled(*disk) == FileOutcome::Failed;
        anyFileFailed |= !fetched;
        diskBusy = false;
        if (received) {
            const std::optional<FileOutcome> settledHere = HandToDisk(disk.get(), std::move(*received));
            diskBusy = !settledHere;
            anyFileFailed |= settledHere == FileOutcome::Failed;
        }
    }
    if (diskBusy)
        anyFileFailed |= AwaitSettled(*disk) == FileOutcome::Failed;
    return !anyFileFailed;
}

// This process always installs in its own working folder itself: if it may not, the files fail as
// they always did. Elevation is asked for the installation folder only, when this process may not
// write it, and only where what the elevated instance would write there is proven: a signed release.
// A check that fails asks nothing: the run then goes as it always did, and reports what fails.
UpdateRun::Division UpdateRun::DivideTheWork() {
    Division division;
    if (!services_.elevation || !services_.releaseVerifier)
        return division;
    SkipOnFailure([&] {
        const std::string installation(kInstallationFolder);
        const bool workingInInstallation = services_.files.SameFolder(services_.environment.CurrentFolder(), installation);
        if (!workingInInstallation && !MirrorWanted())
            return;
        if (services_.elevation->MayWriteIn(installation, kUpdateFileList))
            return;
        division = {.workingFolderHere = !workingInInstallation, .mirrorHere = false, .elevated = true};
    });
    return division;
}

// The elevated instance is told nothing but this window: it finds the installation folder itself,
// and its progress texts are shown here. A declined elevation changes nothing and counts as a failed run; it is never asked again.
bool UpdateRun::InstallElevated() {
    std::optional<int> exitCode;
    SkipOnFailure([&] {
        exitCode = services_.elevation->RunElevated(FormatHandOff({services_.elevation->ProgressWindow()}),
                                                    [&](const std::string& text) { services_.window.SetMessage(text); });
    });
    return exitCode == static_cast<int>(HandOffExit::Installed);
}

// Without a built-in key there is nothing to load. With one, the list must be the maker's, well
// formed, and no older than the installed version.
bool UpdateRun::LoadSignedRelease() {
    signedRelease_.reset();
    if (!services_.releaseVerifier)
        return true;
    SkipOnFailure([&] { signedRelease_ = FetchProvenRelease(); });
    return signedRelease_.has_value();
}

// The signature is checked before the list is parsed: nothing of an unproven text is read.
std::optional<ReleaseList> UpdateRun::FetchProvenRelease() {
    const std::optional<std::string> list =
        services_.transfer.FetchText(DownloadUrl(kReleaseListName), kMaxReleaseListSize);
    if (!list)
        return std::nullopt;
    const std::optional<std::string> der =
        services_.transfer.FetchText(DownloadUrl(kReleaseSignatureName), kMaxSignatureSize);
    const std::optional<RawP256Signature> signature = der ? P256SignatureFromDer(*der) : std::nullopt;
    if (!signature || !services_.releaseVerifier->Verifies(*list, *signature))
        return std::nullopt;
    std::optional<ReleaseList> release = ParseReleaseList(*list);
    if (!release)
        return std::nullopt;
    // The release is judged against the executable it would replace, by its full path, never against
    // one the library search order might find first (beside the updater, say): a version that cannot
    // be read gives nothing to judge by, and nothing is installed.
    const std::string installed = services_.environment.FileVersion(ExecutableIn(services_.environment.CurrentFolder()));
    if (installed == kUnreadableVersion || !MayInstallRelease(release->version, installed))
        return std::nullopt;
    return release;
}

// The first failing step ends the file; whatever it leaves behind is described where it fails.
FileOutcome UpdateRun::MettreAJourFichier(const std::string& name) {
    std::optional<Received> received;
    if (!SkipOnFailure([&] { received = FetchFile(name); }))
        return FileOutcome::Failed;
    if (!received)
        return FileOutcome::Rejected;
    const std::unique_ptr<Settling> disk = StartDiskThread();
    const std::optional<FileOutcome> settledHere = HandToDisk(disk.get(), std::move(*received));
    return settledHere ? *settledHere : AwaitSettled(*disk);
}

// A stale temporary file of an interrupted run is removed before anything else; if it cannot be,
// the file is left alone. Nothing is returned for a file the signed list leaves out: it is not
// part of the release, and the installed copy stays.
std::optional<UpdateRun::Received> UpdateRun::FetchFile(const std::string& name) {
    if (signedRelease_ && !signedRelease_->files.contains(name))
        return std::nullopt;
    const std::string temporary = kTemporaryPrefix + name;
    if (services_.environment.OrdinaryFileExists(temporary))
        services_.files.Delete(temporary);

    services_.window.SetMessage(ProgressMessage(name));
    services_.window.FlushMessages();
    return DownloadToFile(name, temporary);
}

// The new body replaces name only once it is wholly on the disk, by a rename of the temporary file
// still open, so that name is never missing nor half-written, even if the updater is killed, and
// nothing else can change the bytes between their check and the rename. Runs on any thread: it
// touches the files and never the window.
FileOutcome UpdateRun::SettleFile(Received received) {
    const std::string& name = received.name;
    const std::string temporary = kTemporaryPrefix + name;
    if (!SkipOnFailure([&] { received.writer->Flush(); })) {
        received.writer.reset();
        Discard(temporary);
        throw StepFailure("Flush of " + name, 0);
    }
    Mark(TracePoint::Flushed, name);
    if (signedRelease_)
        RequireSignedContent(received);
    // If the replacement fails, the temporary file stays; the next run removes it first.
    RetryWhileInUse(name, [&] { return received.writer->RenameOver(name); });
    received.writer.reset();
    Mark(TracePoint::Replaced, name);
    if (MirrorWanted()) {
        Mirror(name);
        Mark(TracePoint::Mirrored, name);
    }
    return FileOutcome::Installed;
}

// Nothing when no thread can be started.
std::unique_ptr<UpdateRun::Settling> UpdateRun::StartDiskThread() {
    std::unique_ptr<Settling> disk;
    SkipOnFailure([&] { disk = std::make_unique<Settling>(); });
    return disk;
}

// Hands the file's disk work to the thread. Without a thread, or the memory to hand it over, the
// work is done here while the link waits, and its outcome returned.
std::optional<FileOutcome> UpdateRun::HandToDisk(Settling* disk, Received received) {
    std::shared_ptr<Received> file; // shared, as a job is a copyable function and a file's writer is not
    if (disk && SkipOnFailure([&] {
            file = std::make_shared<Received>(std::move(received));
            disk->Start([this, file] { return SettleHere(std::move(*file)); });
        }))
        return std::nullopt;
    return SettleHere(file ? std::move(*file) : std::move(received));
}

FileOutcome UpdateRun::SettleHere(Received received) {
    FileOutcome outcome = FileOutcome::Failed;
    SkipOnFailure([&] { outcome = SettleFile(std::move(received)); });
    return outcome;
}

// The window keeps painting while the disk finishes a file (a file in use may take 30 s); the wait
// ends the moment the work does.
FileOutcome UpdateRun::AwaitSettled(Settling& disk) {
    std::optional<FileOutcome> outcome;
    while (!(outcome = disk.WaitFor(std::chrono::milliseconds(kPollMilliseconds))))
        services_.window.RepaintNow();
    return *outcome;
}

// Judged before any byte of the body arrives, from the length the server announces. Unsigned, a
// body must announce its length and pass the size tests against the installed copy; signed, only the
// listed size will do.
BodyPlan UpdateRun::PlanBody(const std::string& name, std::optional<std::uint64_t> announced) {
    if (signedRelease_)
        return SignedBodyPlan(signedRelease_->files.find(name)->second, announced);
    const std::int64_t oldSize = services_.environment.OrdinaryFileExists(name) ? services_.files.Length(name) : 0;
    std::optional<std::uint64_t> freeBytes;
    if (oldSize == 0)
        SkipOnFailure([&] { freeBytes = services_.files.FreeBytes(services_.environment.CurrentFolder()); });
    return UnsignedBodyPlan(announced, oldSize, freeBytes);
}

// Signed, only the listed size and digest decide, whatever the size: a file the list names but the
// server changed is a failure, never a silent rejection, and so is one it refuses (DownloadToFile).
void UpdateRun::RequireSignedContent(Received& received) {
    const std::string& name = received.name;
    const ReleaseFile& listed = signedRelease_->files.find(name)->second;
    if (received.size == listed.size && received.sha256 == listed.sha256)
        return;
    received.writer.reset();
    Discard(kTemporaryPrefix + name);
    throw StepFailure("Signed content of " + name, 0);
}

// A transfer that fails or is cut short leaves a partial file: it is removed, and the failure ends
// the file. So does a body whose end is not proven, unless the signed size and digest will prove
// it. Unsigned, an answer that is no file of the application (an error status, a length the size
// tests reject) leaves the installed copy as it is: nothing is returned. The digest is finished here,
// so that no more than one file's bytes wait for the hash.
std::optional<UpdateRun::Received> UpdateRun::DownloadToFile(const std::string& name, const std::string& temporary) {
    std::unique_ptr<Sha256Hash> hash =
        signedRelease_ ? std::make_unique<BackgroundSha256>(services_.releaseVerifier->StartSha256()) : nullptr;
    std::unique_ptr<FileWriter> writer = services_.files.Create(temporary);
    TemporaryFileSink sink(
        *writer, services_.window, hash.get(),
        [&](std::optional<std::uint64_t> announced) { return PlanBody(name, announced); },
        [&] { Mark(TracePoint::FirstByte, name); });
    DownloadResult result = DownloadResult::Failed;
    Mark(TracePoint::RequestSent, name);
    SkipOnFailure([&] { result = services_.transfer.Download(DownloadUrl(name), sink); });
    WaitWhileTransferBusy();
    Mark(TracePoint::LastByte, name);
    const bool leftOut = !signedRelease_ && (result == DownloadResult::Refused || result == DownloadResult::Declined);
    const bool whole = result == DownloadResult::Complete || (result == DownloadResult::Unproven && hash);
    Sha256Digest digest{};
    const bool hashed = whole && SkipOnFailure([&] {
        if (hash)
            digest = hash->Finish();
    });
    if (leftOut || !hashed) {
        writer.reset();
        Discard(temporary);
        if (leftOut)
            return std::nullopt;
        throw StepFailure("Download of " + name, 0);
    }
    return Received{name, std::move(writer), result, sink.Written(), digest};
}

// The flag is tested before the first sleep, so an idle transfer costs no delay.
void UpdateRun::WaitWhileTransferBusy() {
    for (int poll = 0; poll < kMaxBusyPolls && services_.transfer.StillExecuting(); ++poll) {
        services_.process.Sleep(kPollMilliseconds);
        services_.window.RepaintNow();
    }
}

// A temporary file that cannot be deleted now goes at the next run: the working folder's before the
// download, the installation folder's when the next mirror copy overwrites it.
void UpdateRun::Discard(const std::string& path) {
    SkipOnFailure([&] { services_.files.Delete(path); });
}

// The close requests are only posted: while the application is still going, its files are in use.
// A free file is replaced at once; one in use is tried again every 100 ms for up to 30 s (nothing
// signals that another program has let go of a file).
template <class Replace> void UpdateRun::RetryWhileInUse(const std::string& target, Replace replace) {
    for (int retry = 0; replace() == ReplaceResult::TargetInUse; ++retry) {
        if (retry == kMaxReplaceRetries)
            throw StepFailure("Replacement of " + target, 0);
        services_.process.Sleep(kPollMilliseconds);
    }
}

// The installation folder gets a copy when the updater works elsewhere and an installation is
// there. The folder is recognised by identity, not by its spelling: "c:\program files\lumoradexv4",
// its short name or a trailing separator name it too, and a copy onto itself is pointless.
bool UpdateRun::MirrorWanted() {
    return mirror_ && !services_.files.SameFolder(services_.environment.CurrentFolder(), std::string(kInstallationFolder)) &&
           services_.environment.OrdinaryFileExists(std::string(kInstalledExecutable));
}

// The copy goes beside its target first, under the working folder's temporary name, and is renamed
// over it, so the installed file is never missing; a file the installation lacks is added. A copy
// left over by a failure is removed.
void UpdateRun::Mirror(const std::string& name) {
    const std::string folder = std::string(kInstallationFolder) + "\\";
    const std::string target = folder + name;
    const std::string temporary = folder + kTemporaryPrefix + name;
    const bool mirrored = SkipOnFailure([&] {
        services_.files.Copy(name, temporary);
        RetryWhileInUse(target, [&] { return services_.files.ReplaceWith(target, temporary); });
    });
    if (!mirrored) {
        Discard(temporary);
        throw StepFailure("Mirror copy of " + name, 0);
    }
}

// A run in which any file failed never reports success, even when the re-check finds the versions
// equal: a file other than the executable may be missing its update. Rejections are no failures.
void UpdateRun::ReportResult(bool anyFileFailed) {
    const bool succeeded = !anyFileFailed && HoldsUnlessFailed([&] {
        return CompareVersions(services_.window.VSite(), services_.window.VLocale()) == 0;
    });
    if (succeeded) {
        SkipOnFailure([&] { services_.window.SetMessage(kResultOk); });
        return;
    }
    SkipOnFailure([&] { services_.process.Beep(); });
    SkipOnFailure([&] { services_.window.SetMessage(kResultFailed); });
}

void UpdateRun::Mark(TracePoint point, std::string_view file) {
    if (services_.trace)
        services_.trace->Mark(point, file);
}

} // namespace lumoradex
