#include "updater/check/load_handler.h"

#include <cstddef>
#include <optional>
#include <utility>

#include "base/failure_rule.h"
#include "updater/check/version_check.h"
#include "updater/check/version_page.h"
#include "updater/release/installation_folder.h"
#include "updater/release/server_addresses.h"
#include "updater/release/version_order.h"

namespace lumoradex {
namespace {

constexpr char kInstallationDrive[] = "C:";
constexpr char kWorkingFolderProbe[] = "velmor.exe";
// The page is a few hundred bytes; a body past this limit is no version page and is never read whole.
constexpr std::size_t kVersionPageLimit = 1024 * 1024;

constexpr char kCheckingMessage[] = "Veuillez patienter, vérifications en cours";
constexpr char kImpossibleMessage[] = "Impossible de contrôler les versions";
constexpr char kUpdateMessage[] = "Des mises à jour sont disponibles";
constexpr char kRemindLaterCaption[] = "Me le rappeler plus tard";
constexpr char kUpToDateMessage[] = "Pas de mise à jour nécessaire";

} // namespace

LoadHandler::LoadHandler(CheckView& window, Environment& environment, Transfer& transfer)
    : window_(window), environment_(environment), transfer_(transfer) {}

void LoadHandler::Run() {
    FixWorkingFolder();
    if (IsInteractive())
        ShowProgress();
    ReadVersions();
    const std::optional<std::size_t> marker = FindVersionMarker(pageVersion_);
    SkipOnFailure([&] { window_.SetVSite(PublishedVersion(pageVersion_, marker)); });

    if (HoldsUnlessFailed([&] { return IsCheckImpossible(window_.VLocale(), window_.VSite(), marker); })) {
        ReportCheckImpossible();
        return;
    }
    if (HoldsUnlessFailed([&] { return IsOlderVersion(window_.VLocale(), window_.VSite()); }))
        OfferUpdate();
    else
        ReportNoUpdateNeeded();
}

// The program works where it was started when that folder holds the application, except that a
// standard installation on drive C: wins over another drive; otherwise the installation folder.
// All three facts are established even when one already decides.
void LoadHandler::FixWorkingFolder() {
    const bool leaveStartFolder = HoldsUnlessFailed([&] {
        const bool installed = environment_.OrdinaryFileExists(std::string(kInstalledExecutable));
        const std::string current = environment_.CurrentFolder();
        const bool otherDrive = current.empty() || current[0] != 'C';
        const bool noApplicationHere = !environment_.OrdinaryFileExists(kWorkingFolderProbe);
        return (installed && otherDrive) || noApplicationHere;
    });
    if (!leaveStartFolder)
        return;
    SkipOnFailure([&] { environment_.ChangeFolder(std::string(kInstallationFolder)); });
    // Also when the folder is missing: the program then works in drive C:'s current folder.
    SkipOnFailure([&] { environment_.ChangeDrive(kInstallationDrive); });
}

// The mode is read again at each use, never stored: any argument at all means interactive.
bool LoadHandler::IsInteractive() const {
    return HoldsUnlessFailed([&] { return !environment_.CommandLine().empty(); });
}

// The window paints its message once before the blocking version read and fetch.
void LoadHandler::ShowProgress() {
    SkipOnFailure([&] { window_.Show(); });
    SkipOnFailure([&] { window_.SetMessage(kCheckingMessage); });
    SkipOnFailure([&] { window_.FlushMessages(); });
}

// A failed fetch keeps the page of an earlier run, so a nested run reuses what the first one read.
void LoadHandler::ReadVersions() {
    SkipOnFailure([&] { window_.SetVLocale(environment_.FileVersion(std::string(kApplicationExecutable))); });
    SkipOnFailure([&] {
        if (std::optional<std::string> page = transfer_.FetchText(VersionPageUrl(), kVersionPageLimit))
            pageVersion_ = std::move(*page);
    });
}

void LoadHandler::ReportCheckImpossible() {
    SkipOnFailure([&] { window_.SetMessage(kImpossibleMessage); });
    CloseInAutomaticMode();
}

void LoadHandler::OfferUpdate() {
    SkipOnFailure([&] { window_.SetMessage(kUpdateMessage); });
    SkipOnFailure([&] { window_.SetMiseAJourVisible(true); });
    SkipOnFailure([&] { window_.SetActionCaption(kRemindLaterCaption); });
    SkipOnFailure([&] { window_.MakeTopMost(); });
    SkipOnFailure([&] { window_.Show(); });
}

void LoadHandler::ReportNoUpdateNeeded() {
    SkipOnFailure([&] { window_.SetMessage(kUpToDateMessage); });
    CloseInAutomaticMode();
}

// In automatic mode nothing is left to show: closing the never-shown window ends the program.
void LoadHandler::CloseInAutomaticMode() {
    if (HoldsUnlessFailed([&] { return environment_.CommandLine().empty(); }))
        SkipOnFailure([&] { window_.Close(); });
}

} // namespace lumoradex
