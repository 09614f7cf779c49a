#pragma once
// The update run, the Click handler of MiseAJour: installs the seven files of the update file list,
// the whole release or none (every file staged beside the installed one, then the application asked
// to close and all of them committed), with an elevated instance for an installation folder this
// process may not write, re-checks the versions and reports.
// Built with the maker's public key, it installs only what the release's signed list proves.
// Platform-free: it reaches the window, the files, the network and the process through interfaces.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "updater/elevation.h"
#include "updater/environment.h"
#include "updater/installation_files.h"
#include "updater/main_window_items.h"
#include "updater/process_services.h"
#include "updater/release_commit.h"
#include "updater/release_list.h"
#include "updater/release_verifier.h"
#include "updater/transfer.h"
#include "updater/update_file_list.h"
#include "updater/update_trace.h"

namespace lumoradex {

enum class FileOutcome {
    Installed,
    Rejected, // the server left the file out: the installed copy stays as it was
    Failed,   // the file could not be fetched, written, replaced or mirrored
};

struct UpdateServices {
    MainWindowItems& window;
    Environment& environment;
    Transfer& transfer;
    InstallationFiles& files;
    ProcessServices& process;
    ReleaseVerifier* releaseVerifier = nullptr; // set when releases must be signed
    Elevation* elevation = nullptr;             // none in an instance that is itself elevated
    UpdateTrace* trace = nullptr;               // where the run marks its progress, if anywhere
};

class UpdateRun {
public:
    // recheck runs the load handler again, as a nested call.
    UpdateRun(UpdateServices services, std::function<void()> recheck);

    // The whole run; in automatic mode it ends the program.
    void Run();
    // The whole release or none in the working folder, with the installation folder's copies when
    // mirror is set and they apply: every file staged first, then committed. False when anything
    // failed; then no installed file has changed. With mirror off, the part an elevated instance does
    // in the installation folder.
    bool InstallFiles(bool mirror = true);
    // One file from download to replacement; a failure changes nothing.
    FileOutcome MettreAJourFichier(const std::string& name);

private:
    struct Division;

    Division DivideTheWork();
    std::optional<std::vector<StagedFile>> StageRelease(bool mirror);
    void ClearInterruptedCommits(bool mirror);
    bool InstallElevated();
    bool LoadSignedRelease();
    std::optional<ReleaseList> FetchProvenRelease();
    std::optional<std::string> FetchSignedText(const char* listName, const char* signatureName);
    bool CommitClosingTheApplication(std::vector<StagedFile>& staged);
    ReleaseCommit Commit();
    void ReportResult(bool anyFileFailed);
    void Mark(TracePoint point, std::string_view file = {});

    UpdateServices services_;
    std::function<void()> recheck_;
    std::optional<ReleaseList> signedRelease_; // the proven list of this run, in signed mode
};

} // namespace lumoradex
