#include "updater/install/release_installation.h"

#include <string>
#include <utility>

#include "base/failure_rule.h"
#include "updater/install/release_staging.h"
#include "updater/release/installation_folder.h"
#include "updater/release/server_addresses.h"
#include "updater/release/signature_der.h"
#include "updater/release/update_file_list.h"

namespace lumoradex {
namespace {

constexpr char kApplicationTitle[] = "Lumoradex";
constexpr char kUnreadableVersion[] = "0.0.0";

constexpr char kReleaseListName[] = "release.txt";
constexpr char kReleaseSignatureName[] = "release.sig";
constexpr char kPatchListName[] = "patches.txt";
constexpr char kPatchSignatureName[] = "patches.sig";
// A DER signature of P-256 takes 72 bytes at most.
constexpr std::size_t kMaxSignatureSize = 256;

// The application's executable in a folder, by its full path: never found by a search elsewhere.
std::string ExecutableIn(const std::string& folder) {
    return folder + (folder.ends_with('\\') ? "" : "\\") + std::string(kApplicationExecutable);
}

} // namespace

ReleaseInstallation::ReleaseInstallation(UpdateServices services, InstallProgress& progress)
    : services_(services), progress_(progress) {}

bool ReleaseInstallation::Install(bool mirror) {
    std::optional<StagedRelease> staged = Stage(mirror);
    return staged && CommitClosingTheApplication(std::move(*staged));
}

// The application is asked to close only once the whole release is staged beside it: it stays
// usable for the whole download, and is never disturbed by a run that fails before the commit. The
// requests are only posted; a file still in use is waited for by the commit.
bool ReleaseInstallation::CommitClosingTheApplication(StagedRelease staged) {
    SkipOnFailure([&] { services_.process.FermerFenetres(kApplicationTitle); });
    services_.Mark(TracePoint::CloseRequestsPosted);
    return ReleaseCommit(services_).Commit(std::move(staged.files));
}

// A signed release that is not proven stages nothing at all. What an interrupted commit left is
// finished first, and nothing else is done where it cannot be: a folder is never left mixed.
// Each folder is locked first, for the whole run: another run there (the application started twice)
// must not finish this one's commit or commit beside it; a run that finds a folder held does nothing.
std::optional<StagedRelease> ReleaseInstallation::Stage(bool mirror) {
    StagedRelease staged;
    std::string workingFolder;
    SkipOnFailure([&] { workingFolder = services_.environment.CurrentFolder(); });
    const bool elsewhere = mirror && HoldsUnlessFailed([&] {
                               return !services_.files.SameFolder(workingFolder, std::string(kInstallationFolder));
                           });
    if ((!workingFolder.empty() && !Lock(workingFolder, staged)) ||
        (elsewhere && !Lock(std::string(kInstallationFolder), staged)))
        return std::nullopt;
    if (!FinishInterruptedCommits(mirror) || !LoadSignedRelease())
        return std::nullopt;
    const std::optional<bool> mirrored = Mirrored(mirror);
    if (!mirrored)
        return std::nullopt;
    std::optional<std::vector<StagedFile>> files =
        ReleaseStaging(services_, progress_, signedRelease_, *mirrored).StageAll();
    if (!files)
        return std::nullopt;
    staged.files = std::move(*files);
    return staged;
}

// False only when another run holds the folder. A folder that cannot be locked otherwise (missing,
// or not this process's to write) cannot be installed in either, which its files find out.
bool ReleaseInstallation::Lock(const std::string& folder, StagedRelease& staged) {
    std::unique_ptr<FolderLock> lock;
    if (!SkipOnFailure([&] { lock = services_.files.LockFolder(folder); }))
        return true;
    if (!lock)
        return false;
    staged.locks.push_back(std::move(lock));
    return true;
}

// The installation folder gets copies when the run works elsewhere and an installation is there.
// The folder is recognised by identity, not by its spelling: "c:\program files\lumoradexv4", its
// short name or a trailing separator name it too, and a copy onto itself is pointless. A signed
// release is judged against each folder's own executable: an installation newer than the release
// gets nothing (the working folder's update goes on), one whose version cannot be read gets nothing
// and fails the run. Nothing: the run fails.
std::optional<bool> ReleaseInstallation::Mirrored(bool mirror) {
    const bool applies = mirror && HoldsUnlessFailed([&] {
                             return !services_.files.SameFolder(services_.environment.CurrentFolder(),
                                                                std::string(kInstallationFolder)) &&
                                    services_.environment.OrdinaryFileExists(std::string(kInstalledExecutable));
                         });
    if (!applies || !signedRelease_)
        return applies;
    std::string installed = kUnreadableVersion;
    SkipOnFailure([&] { installed = services_.environment.FileVersion(std::string(kInstalledExecutable)); });
    if (installed == kUnreadableVersion)
        return std::nullopt;
    return MayInstallRelease(signedRelease_->version, installed);
}

// Each folder on its own, in the order the commit replaces its files: its executable last.
bool ReleaseInstallation::FinishInterruptedCommits(bool mirror) {
    std::vector<std::string> working(kUpdateFileList.begin(), kUpdateFileList.end());
    std::vector<std::string> installation;
    for (std::string_view name : kUpdateFileList)
        installation.push_back(std::string(kInstallationFolder) + "\\" + std::string(name));
    const bool finished = FinishInterruptedCommit(working, services_.environment, services_.files);
    return (!mirror || FinishInterruptedCommit(installation, services_.environment, services_.files)) && finished;
}

// Without a built-in key there is nothing to load. With one, the list must be the maker's, well
// formed, and no older than the installed version.
bool ReleaseInstallation::LoadSignedRelease() {
    signedRelease_.reset();
    if (!services_.releaseVerifier)
        return true;
    SkipOnFailure([&] { signedRelease_ = FetchProvenRelease(); });
    return signedRelease_.has_value();
}

// The signature is checked before the list is parsed: nothing of an unproven text is read.
std::optional<ReleaseList> ReleaseInstallation::FetchProvenRelease() {
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
std::optional<std::string> ReleaseInstallation::FetchSignedText(const char* listName, const char* signatureName) {
    const std::optional<std::string> list = services_.transfer.FetchText(DownloadUrl(listName), kMaxReleaseListSize);
    if (!list)
        return std::nullopt;
    const std::optional<std::string> der = services_.transfer.FetchText(DownloadUrl(signatureName), kMaxSignatureSize);
    const std::optional<RawP256Signature> signature = der ? P256SignatureFromDer(*der) : std::nullopt;
    if (!signature || !services_.releaseVerifier->Verifies(*list, *signature))
        return std::nullopt;
    return list;
}

} // namespace lumoradex
