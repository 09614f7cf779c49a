#pragma once
// The update run, the Click handler of MiseAJour: closes the application, installs the seven files
// of the update file list one by one (MettreAJourFichier), re-checks the versions and reports.
// Platform-free: it reaches the window, the files, the network and the process through interfaces.

#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "updater/environment.h"
#include "updater/installation_files.h"
#include "updater/main_window_items.h"
#include "updater/process_services.h"
#include "updater/transfer.h"

namespace lumoradex {

// The application's files, in the order they are installed; the executable comes last so that the
// application has the longest time to close before its turn.
inline constexpr std::array<std::string_view, 7> kUpdateFileList{
    "Velmor.prm", "VelmorA.prm", "VelmorE.prm", "MailLink.exe", "XVelmor.mdb", "socle.mdb", "Velmor.exe"};

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
};

class UpdateRun {
public:
    // recheck runs the load handler again, as a nested call.
    UpdateRun(UpdateServices services, std::function<void()> recheck);

    // The whole run; in automatic mode it ends the program.
    void Run();
    // One file from download to clean-up; a failure ends this file only.
    FileOutcome MettreAJourFichier(const std::string& name);

private:
    struct Download;

    FileOutcome InstallFile(const std::string& name);
    Download DownloadToFile(const std::string& name, const std::string& temporary);
    void WaitWhileTransferBusy();
    void Discard(const std::string& path);
    void ReplaceWhenFree(const std::string& target, const std::string& source);
    bool MirrorWanted();
    void Mirror(const std::string& name);
    void ReportResult(bool anyFileFailed);

    UpdateServices services_;
    std::function<void()> recheck_;
};

} // namespace lumoradex
