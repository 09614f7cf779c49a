#pragma once
// The whole work of an elevated instance: it installs the update's files in the standard
// installation folder, asking the application to close before it replaces them, and nothing else
// (no window, no re-check, no start of the application).
// Platform-free.

#include "updater/install/installation_handoff.h"
#include "updater/install/update_services.h"
#include "updater/ports/install_progress.h"

namespace lumoradex {

// progress: relayed to the window of the instance that asked.
HandOffExit InstallHandedOff(UpdateServices services, InstallProgress& progress);

} // namespace lumoradex
