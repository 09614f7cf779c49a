#include "updater/install/elevated_installation.h"

#include <string>

#include "updater/install/release_installation.h"
#include "updater/release/installation_folder.h"

namespace lumoradex {

// Running with rights the user who started it does not have, the instance takes nothing of theirs
// for granted: it works in the standard installation alone, whatever folder it was started in, and
// reads and writes no other folder. It writes only what a signed release proves, which a build
// without the maker's key cannot prove, and only where an installation is there to update.
HandOffExit InstallHandedOff(UpdateServices services, InstallProgress& progress) {
    if (!services.releaseVerifier)
        return HandOffExit::Refused;
    try {
        services.environment.ChangeFolder(std::string(kInstallationFolder));
        if (!services.environment.OrdinaryFileExists(std::string(kInstalledExecutable)))
            return HandOffExit::Refused;
    } catch (...) {
        return HandOffExit::Refused;
    }
    return ReleaseInstallation(services, progress).Install(false) ? HandOffExit::Installed : HandOffExit::FileFailed;
}

} // namespace lumoradex
