#include "updater/update_run.h"

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

std::string ProgressMessage(const std::string& name) {
    return "Veuillez patienter, téléchargement en cours (" + name + ")";
}

// Streams a body into the temporary file chunk by chunk, so that memory stays bounded whatever the
// file's size, and keeps the window painted between chunks. A signed release's file is hashed as it
// streams in, never read back.
class TemporaryFileSink final : public DownloadSink {
public:
    TemporaryFileSink(FileWriter& writer, MainWindowItems& window, Sha256Hash* hash, std::function<void()> firstBytes)
        : writer_(writer), window_(window), hash_(hash), firstBytes_(std::move(firstBytes)) {}

    void Write(const std::byte* data, std::size_t size) override {
        if (written_ == 0 && size > 0)
            firstBytes_();
        writer_.Write(data, size);
        if (hash_)
            hash_->Add(data, size);
        written_ += static_cast<std::int64_t>(size);
    }
    void BetweenChunks() override { window_.RepaintNow(); }
    std::int64_t Written() const { return written_; }

private:
    FileWriter& writer_;
    MainWindowItems& window_;
    Sha256Hash* hash_;
    std::function<void()> firstBytes_;
    std::int64_t written_ = 0;
};

} // namespace

struct UpdateRun::Download {
    DownloadResult result;
    std::int64_t size;
    Sha256Digest sha256; // in signed mode only
};

UpdateRun::UpdateRun(UpdateServices services, std::function<void()> recheck)
    : services_(services), recheck_(std::move(recheck)) {}

// Every step runs under the handlers' failure rule; a failing branch test enters its branch.
void UpdateRun::Run() {
    Mark(TracePoint::Click);
    SkipOnFailure([&] { services_.window.SetMiseAJourVisible(false); });
    SkipOnFailure([&] { services_.process.FermerFenetres(kApplicationTitle); });
    Mark(TracePoint::CloseRequestsPosted);
    const bool anyFileFailed = NeedsElevation() ? !InstallElevated() : !InstallFiles();
    Mark(TracePoint::FilesSettled);
    SkipOnFailure(recheck_);
    Mark(TracePoint::Rechecked);
    ReportResult(anyFileFailed);
    SkipOnFailure([&] { services_.window.SetActionCaption(kFinishCaption); });
    if (HoldsUnlessFailed([&] { return services_.environment.CommandLine().empty(); })) {
        SkipOnFailure([&] { services_.process.StartProgram(kApplicationCommandLine, kShowMinimized); });
        Mark(TracePoint::ApplicationStarted);
        SkipOnFailure([&] { services_.process.EndProgram(); });
    }
}

// A signed release that is not proven installs nothing at all.
bool UpdateRun::InstallFiles() {
    if (!LoadSignedRelease())
        return false;
    bool anyFileFailed = false;
    for (std::string_view name : kUpdateFileList)
        anyFileFailed |= MettreAJourFichier(std::string(name)) == FileOutcome::Failed;
    return !anyFileFailed;
}

// Elevation is asked for only where this process may not write what the run writes: the working
// folder, and the installation folder when it gets a mirror copy. A check that fails asks nothing:
// the run then goes as it always did, and reports what fails.
bool UpdateRun::NeedsElevation() {
    bool needed = false;
    if (services_.elevation) {
        SkipOnFailure([&] {
            needed = !services_.elevation->MayWriteIn(services_.environment.CurrentFolder(), kUpdateFileList) ||
                     (MirrorWanted() &&
                      !services_.elevation->MayWriteIn(std::string(kInstallationFolder), kUpdateFileList));
        });
    }
    return needed;
}

// The elevated instance gets the working folder and this window, and installs there what this run
// would. A declined elevation changes nothing and counts as a failed run; it is never asked again.
bool UpdateRun::InstallElevated() {
    std::optional<int> exitCode;
    SkipOnFailure([&] {
        const InstallationHandOff handOff{services_.elevation->ProgressWindow(), services_.environment.CurrentFolder()};
        exitCode = services_.elevation->RunElevated(FormatHandOff(handOff));
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
    const std::optional<std::string> list = services_.transfer.FetchText(DownloadUrl(kReleaseListName));
    if (!list)
        return std::nullopt;
    const std::optional<std::string> der = services_.transfer.FetchText(DownloadUrl(kReleaseSignatureName));
    const std::optional<RawP256Signature> signature = der ? P256SignatureFromDer(*der) : std::nullopt;
    if (!signature || !services_.releaseVerifier->Verifies(*list, *signature))
        return std::nullopt;
    std::optional<ReleaseList> release = ParseReleaseList(*list);
    if (!release || !MayInstallRelease(release->version, services_.window.VLocale()))
        return std::nullopt;
    return release;
}

// The first failing step ends the file; whatever it leaves behind is described where it fails.
FileOutcome UpdateRun::MettreAJourFichier(const std::string& name) {
    FileOutcome outcome = FileOutcome::Failed;
    SkipOnFailure([&] { outcome = InstallFile(name); });
    return outcome;
}

// A stale temporary file of an interrupted run is removed before anything else; if it cannot be,
// the file is left alone. The new body replaces name only once it is wholly on the disk, by a
// rename, so that name is never missing nor half-written, even if the updater is killed.
FileOutcome UpdateRun::InstallFile(const std::string& name) {
    // A file the signed list leaves out is not part of the release: the installed copy stays.
    if (signedRelease_ && !signedRelease_->files.contains(name))
        return FileOutcome::Rejected;
    const std::string temporary = kTemporaryPrefix + name;
    if (services_.environment.OrdinaryFileExists(temporary))
        services_.files.Delete(temporary);

    services_.window.SetMessage(ProgressMessage(name));
    services_.window.FlushMessages();

    const Download download = DownloadToFile(name, temporary);
    if (signedRelease_)
        RequireSignedContent(name, download);
    else if (!PlausibleUnsigned(name, download))
        return FileOutcome::Rejected;
    // If the replacement fails, the temporary file stays; the next run removes it first.
    ReplaceWhenFree(name, temporary);
    Mark(TracePoint::Replaced, name);
    if (MirrorWanted()) {
        Mirror(name);
        Mark(TracePoint::Mirrored, name);
    }
    return FileOutcome::Installed;
}

// Unsigned, a body is judged by its status and size. An error status comes with the server's error
// page, never with the file: whatever its size (a 1 KB "not found" page would pass the size tests),
// it is no file of the application.
bool UpdateRun::PlausibleUnsigned(const std::string& name, const Download& download) {
    const std::int64_t oldSize = services_.environment.OrdinaryFileExists(name) ? services_.files.Length(name) : 0;
    if (download.result != DownloadResult::Refused && JudgeDownload(download.size, oldSize) == DownloadVerdict::Install)
        return true;
    Discard(kTemporaryPrefix + name);
    return false;
}

// Signed, only the listed size and digest decide, whatever the size: a file the list names but the
// server refuses or changed is a failure, never a silent rejection.
void UpdateRun::RequireSignedContent(const std::string& name, const Download& download) {
    const ReleaseFile& listed = signedRelease_->files.find(name)->second;
    if (download.result != DownloadResult::Refused && download.size == listed.size && download.sha256 == listed.sha256)
        return;
    Discard(kTemporaryPrefix + name);
    throw StepFailure("Signed content of " + name, 0);
}

// A transfer that fails or is cut short leaves a partial file: it is removed, and the failure ends
// the file. So does a body whose end is not proven, unless the signed size and digest will prove
// it. A refused request is no failure here: the server has answered.
UpdateRun::Download UpdateRun::DownloadToFile(const std::string& name, const std::string& temporary) {
    std::unique_ptr<Sha256Hash> hash =
        signedRelease_ ? std::make_unique<BackgroundSha256>(services_.releaseVerifier->StartSha256()) : nullptr;
    std::unique_ptr<FileWriter> writer = services_.files.Create(temporary);
    TemporaryFileSink sink(*writer, services_.window, hash.get(), [&] { Mark(TracePoint::FirstByte, name); });
    DownloadResult result = DownloadResult::Failed;
    Mark(TracePoint::RequestSent, name);
    SkipOnFailure([&] { result = services_.transfer.Download(DownloadUrl(name), sink); });
    WaitWhileTransferBusy();
    Mark(TracePoint::LastByte, name);
    const bool whole = result == DownloadResult::Complete || result == DownloadResult::Refused ||
                       (result == DownloadResult::Unproven && hash);
    Sha256Digest digest{};
    const bool committed = whole && SkipOnFailure([&] {
        writer->Commit();
        if (hash)
            digest = hash->Finish();
    });
    if (!committed) {
        writer.reset();
        Discard(temporary);
        throw StepFailure("Download of " + name, 0);
    }
    Mark(TracePoint::Flushed, name);
    return {result, sink.Written(), digest};
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
// A free file is replaced at once; one in use is tried again every 100 ms for up to 30 s.
void UpdateRun::ReplaceWhenFree(const std::string& target, const std::string& source) {
    for (int retry = 0; services_.files.ReplaceWith(target, source) == ReplaceResult::TargetInUse; ++retry) {
        if (retry == kMaxReplaceRetries)
            throw StepFailure("Replacement of " + target, 0);
        services_.process.Sleep(kPollMilliseconds);
        services_.window.RepaintNow();
    }
}

// The installation folder gets a copy when the updater works elsewhere and an installation is
// there. The folder is recognised by identity, not by its spelling: "c:\program files\lumoradexv4",
// its short name or a trailing separator name it too, and a copy onto itself is pointless.
bool UpdateRun::MirrorWanted() {
    return !services_.files.SameFolder(services_.environment.CurrentFolder(), std::string(kInstallationFolder)) &&
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
        ReplaceWhenFree(target, temporary);
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
