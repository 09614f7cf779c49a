#include "updater/update_run.h"

#include <utility>

#include "updater/failure_rule.h"
#include "updater/installation_folder.h"
#include "updater/installation_handoff.h"
#include "updater/release_staging.h"
#include "updater/server_addresses.h"
#include "updater/signature_der.h"
#include "updater/update_file_list.h"
#include "updater/version_order.h"

namespace lumoradex {
namespace {

constexpr char kApplicationTitle[] = "Lumoradex";
constexpr char kApplicationCommandLine[] = "Velmor.exe";
constexpr char kUnreadableVersion[] = "0.0.0";
constexpr int kShowMinimized = 2; // minimised, with the focus

constexpr char kResultOk[] = "Téléchargements terminés, mise à jour OK";
constexpr char kResultFailed[] = "Téléchargements terminés, Echec de MAJ";
constexpr char kFinishCaption[] = "Terminer";

constexpr char kReleaseListName[] = "release.txt";
constexpr char kReleaseSignatureName[] = "release.sig";
constexpr char kPatchListName[] = "patches.txt";
constexpr char kPatchSignatureName[] = "patches.sig";
// A DER signature of P-256 takes 72 bytes at most.
constexpr std::size_t kMaxSignatureSize = 256;

// The application's executable in a folder, by its full path: never found by a search elsewhere.
std::string ExecutableIn(const std::string& folder) {
    return folder + (folder.ends_with('\\') ? "" : "\\") + kApplicationCommandLine;
}

} // namespace

// Which folders this process installs in, and whether an elevated instance installs in the
// installation folder.
struct UpdateRun::Division {
    bool workingFolderHere = true;
    bool mirrorHere = true;
    bool elevated = false;
};

UpdateRun::UpdateRun(UpdateServices services, std::function<void()> recheck)
    : services_(services), recheck_(std::move(recheck)) {}

// Every step runs under the handlers' failure rule; a failing branch test enters its branch. With
// an elevated instance for the installation folder, this process stages its own folder first and
// commits it only once the elevated instance has committed the installation's, so that the working
// folder's Velmor.exe, which the next start reads, is new only once everything else is. Each
// instance asks the application to close just before its own commit.
void UpdateRun::Run() {
    Mark(TracePoint::Click);
    SkipOnFailure([&] { services_.window.SetMiseAJourVisible(false); });
    const Division division = DivideTheWork();
    bool installed = true;
    std::optional<std::vector<StagedFile>> staged;
    if (division.workingFolderHere) {
        staged = StageRelease(division.mirrorHere);
        installed = staged.has_value();
    }
    if (division.elevated && installed)
        installed = InstallElevated();
    if (staged) {
        if (installed)
            installed = CommitClosingTheApplication(*staged);
        else
            Commit().Discard(*staged);
    }
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

bool UpdateRun::InstallFiles(bool mirror) {
    std::optional<std::vector<StagedFile>> staged = StageRelease(mirror);
    return staged && CommitClosingTheApplication(*staged);
}

// The application is asked to close only once the whole release is staged beside it: it stays
// usable for the whole download, and is never disturbed by a run that fails before the commit. The
// requests are only posted; a file still in use is waited for by the commit.
bool UpdateRun::CommitClosingTheApplication(std::vector<StagedFile>& staged) {
    SkipOnFailure([&] { services_.process.FermerFenetres(kApplicationTitle); });
    Mark(TracePoint::CloseRequestsPosted);
    return Commit().Commit(staged);
}

// A signed release that is not proven stages nothing at all. What an interrupted run left is
// cleared first.
std::optional<std::vector<StagedFile>> UpdateRun::StageRelease(bool mirror) {
    ClearInterruptedCommits(mirror);
    if (!LoadSignedRelease())
        return std::nullopt;
    return ReleaseStaging(services_, signedRelease_, mirror).StageAll();
}

void UpdateRun::ClearInterruptedCommits(bool mirror) {
    std::vector<std::string> targets;
    for (std::string_view name : kUpdateFileList) {
        targets.emplace_back(name);
        if (mirror)
            targets.push_back(std::string(kInstallationFolder) + "\\" + std::string(name));
    }
    ClearInterruptedCommit(targets, services_.environment, services_.files);
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
        const bool workingInInstallation =
            services_.files.SameFolder(services_.environment.CurrentFolder(), installation);
        const bool installationPresent = services_.environment.OrdinaryFileExists(std::string(kInstalledExecutable));
        if (!workingInInstallation && !installationPresent)
            return;
        if (services_.elevation->MayWriteIn(installation, kUpdateFileList))
            return;
        division = {.workingFolderHere = !workingInInstallation, .mirrorHere = false, .elevated = true};
    });
    return division;
}

// The elevated instance is told nothing but this window: it finds the installation folder itself,
// and its progress texts are shown here. A declined elevation changes nothing and counts as a failed
// run; it is never asked again.
bool UpdateRun::InstallElevated() {
    std::optional<int> exitCode;
    SkipOnFailure([&] {
        exitCode =
            services_.elevation->RunElevated(FormatHandOff({services_.elevation->ProgressWindow()}),
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
    const std::optional<std::string> list = FetchSignedText(kReleaseListName, kReleaseSignatureName);
    std::optional<ReleaseList> release = list ? ParseReleaseList(*list) : std::nullopt;
    if (!release)
        return std::nullopt;
    // The release is judged against the executable it would replace, by its full path, never against
    // one the library search order might find first (beside the updater, say): a version that cannot
    // be read gives nothing to judge by, and nothing is installed.
    const std::string installed =
        services_.environment.FileVersion(ExecutableIn(services_.environment.CurrentFolder()));
    if (installed == kUnreadableVersion || !MayInstallRelease(release->version, installed))
        return std::nullopt;
    // Patches only spare downloads: a release without a proven patch list of its own is installed
    // from whole files.
    SkipOnFailure([&] {
        const std::optional<std::string> patches = FetchSignedText(kPatchListName, kPatchSignatureName);
        release->patches = ParsePatchList(patches.value_or(""), release->version).value_or(PatchList{});
    });
    return release;
}

// The text of a list, only when the maker's signature of it verifies.
std::optional<std::string> UpdateRun::FetchSignedText(const char* listName, const char* signatureName) {
    const std::optional<std::string> list = services_.transfer.FetchText(DownloadUrl(listName), kMaxReleaseListSize);
    if (!list)
        return std::nullopt;
    const std::optional<std::string> der = services_.transfer.FetchText(DownloadUrl(signatureName), kMaxSignatureSize);
    const std::optional<RawP256Signature> signature = der ? P256SignatureFromDer(*der) : std::nullopt;
    if (!signature || !services_.releaseVerifier->Verifies(*list, *signature))
        return std::nullopt;
    return list;
}

// A file staged alone and committed alone, the installation folder's copy with it.
FileOutcome UpdateRun::MettreAJourFichier(const std::string& name) {
    std::vector<StagedFile> staged;
    if (!SkipOnFailure([&] { staged = ReleaseStaging(services_, signedRelease_, true).StageOne(name); }))
        return FileOutcome::Failed;
    if (staged.empty())
        return FileOutcome::Rejected;
    return Commit().Commit(staged) ? FileOutcome::Installed : FileOutcome::Failed;
}

ReleaseCommit UpdateRun::Commit() {
    return ReleaseCommit(services_.files, services_.process, services_.window, services_.trace);
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
