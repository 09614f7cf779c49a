#include "updater/elevated_installation.h"

#include <string>

#include "updater/failure_rule.h"
#include "updater/installation_folder.h"

namespace lumoradex {
namespace {

constexpr char kApplicationProbe[] = "velmor.exe";
constexpr char kVersionedExecutable[] = "Velmor.exe";

// Only a folder the update run itself could work in: the standard installation, or a folder that
// holds the application. A hand-off forged to name another folder is refused; a check that fails
// refuses it too.
bool IsWorkingFolderOfTheRun(const std::string& folder, UpdateServices& services) {
    try {
        services.environment.ChangeFolder(folder);
        return services.files.SameFolder(services.environment.CurrentFolder(), std::string(kInstallationFolder)) ||
               services.environment.OrdinaryFileExists(kApplicationProbe);
    } catch (...) {
        return false;
    }
}

} // namespace

// The installed version is read here, never taken from the hand-off: a signed release is judged
// against it.
HandOffExit InstallHandedOff(const InstallationHandOff& handOff, UpdateServices services) {
    if (!IsWorkingFolderOfTheRun(handOff.workingFolder, services))
        return HandOffExit::Refused;
    SkipOnFailure([&] { services.window.SetVLocale(services.environment.FileVersion(kVersionedExecutable)); });
    services.elevation = nullptr;
    UpdateRun run(services, [] {});
    return run.InstallFiles() ? HandOffExit::Installed : HandOffExit::FileFailed;
}

} // namespace lumoradex
