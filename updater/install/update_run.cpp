#include "updater/install/update_run.h"

#include <optional>
#include <string>
#include <utility>

#include "base/failure_rule.h"
#include "updater/install/installation_handoff.h"
#include "updater/release/installation_folder.h"
#include "updater/release/update_file_list.h"
#include "updater/release/version_order.h"

namespace lumoradex {
namespace {

constexpr int kShowMinimized = 2; // minimised, with the focus

constexpr char kResultOk[] = "Téléchargements terminés, mise à jour OK";
constexpr char kResultFailed[] = "Téléchargements terminés, Echec de MAJ";
constexpr char kFinishCaption[] = "Terminer";

} // namespace

// Which folders this process installs in, and whether an elevated instance installs in the
// installation folder.
struct UpdateRun::Division {
    bool workingFolderHere = true;
    bool mirrorHere = true;
    bool elevated = false;
};

UpdateRun::UpdateRun(UpdateServices services, UpdateRunView& view, Elevation* elevation, std::function<void()> recheck)
    : services_(services), view_(view), elevation_(elevation), recheck_(std::move(recheck)), installation_(services, view) {}

// Every step runs under the handlers' failure rule; a failing branch test enters its branch. With
// an elevated instance for the installation folder, this process stages its own folder first and
// commits it only once the elevated instance has committed the installation's, so that the working
// folder's Velmor.exe, which the next start reads, is new only once everything else is. Each
// instance asks the application to close just before its own commit.
void UpdateRun::Run() {
    services_.Mark(TracePoint::Click);
    SkipOnFailure([&] { view_.SetMiseAJourVisible(false); });
    const Division division = DivideTheWork();
    bool installed = true;
    std::optional<StagedRelease> staged;
    if (division.workingFolderHere) {
        staged = installation_.Stage(division.mirrorHere);
        installed = staged.has_value();
    }
    if (division.elevated && installed)
        installed = InstallElevated();
    if (staged && installed)
        installed = installation_.CommitClosingTheApplication(std::move(*staged));
    staged.reset();
    services_.Mark(TracePoint::FilesSettled);
    SkipOnFailure(recheck_);
    services_.Mark(TracePoint::Rechecked);
    ReportResult(!installed);
    SkipOnFailure([&] { view_.SetActionCaption(kFinishCaption); });
    if (HoldsUnlessFailed([&] { return services_.environment.CommandLine().empty(); })) {
        SkipOnFailure([&] { services_.process.StartProgram(std::string(kApplicationExecutable), kShowMinimized); });
        services_.Mark(TracePoint::ApplicationStarted);
        SkipOnFailure([&] { services_.process.EndProgram(); });
    }
}

// This process always installs in its own working folder itself: if it may not, the files fail as
// they always did. Elevation is asked for the installation folder only, when this process may not
// write it, and only where what the elevated instance would write there is proven: a signed release.
// The elevated program is the installation's own updater, never the one this process runs from, which
// a program of the user's may have replaced; without it the installation's files fail as they would
// unsigned.
// A check that fails asks nothing: the run then goes as it always did, and reports what fails.
UpdateRun::Division UpdateRun::DivideTheWork() {
    Division division;
    if (!elevation_ || !services_.releaseVerifier)
        return division;
    SkipOnFailure([&] {
        const std::string installation(kInstallationFolder);
        const bool workingInInstallation =
            services_.files.SameFolder(services_.environment.CurrentFolder(), installation);
        const bool installationPresent = services_.environment.OrdinaryFileExists(std::string(kInstalledExecutable));
        if (!workingInInstallation && !installationPresent)
            return;
        if (elevation_->MayWriteIn(installation, kUpdateFileList) ||
            !services_.environment.OrdinaryFileExists(std::string(kInstalledUpdater)))
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
        exitCode = elevation_->RunElevated(std::string(kInstalledUpdater), FormatHandOff({elevation_->ProgressWindow()}),
                                           [&](const std::string& text) { view_.SetMessage(text); });
    });
    return exitCode == static_cast<int>(HandOffExit::Installed);
}

// A run in which any file failed never reports success, even when the re-check finds the versions
// equal: a file other than the executable may be missing its update. Rejections are no failures.
void UpdateRun::ReportResult(bool anyFileFailed) {
    const bool succeeded = !anyFileFailed && HoldsUnlessFailed([&] {
        return CompareVersions(view_.VSite(), view_.VLocale()) == 0;
    });
    if (succeeded) {
        SkipOnFailure([&] { view_.SetMessage(kResultOk); });
        return;
    }
    SkipOnFailure([&] { services_.process.Beep(); });
    SkipOnFailure([&] { view_.SetMessage(kResultFailed); });
}

} // namespace lumoradex
