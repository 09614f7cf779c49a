#pragma once
// The update run, the Click handler of MiseAJour: installs the seven files of the update file list,
// the whole release or none, with an elevated instance for an installation folder this process may
// not write, re-checks the versions and reports. Platform-free: it reaches the window, the files,
// the network and the process through interfaces.

#include <functional>

#include "updater/install/install_views.h"
#include "updater/install/release_installation.h"
#include "updater/install/update_services.h"
#include "updater/ports/elevation.h"

namespace lumoradex {

class UpdateRun {
public:
    // elevation: none in an instance that is itself elevated; recheck runs the load handler again,
    // as a nested call.
    UpdateRun(UpdateServices services, UpdateRunView& view, Elevation* elevation, std::function<void()> recheck);

    // The whole run; in automatic mode it ends the program.
    void Run();

private:
    struct Division;

    Division DivideTheWork();
    bool InstallElevated();
    void ReportResult(bool anyFileFailed);

    UpdateServices services_;
    UpdateRunView& view_;
    Elevation* elevation_;
    std::function<void()> recheck_;
    ReleaseInstallation installation_;
};

} // namespace lumoradex
