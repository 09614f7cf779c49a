#pragma once
// The whole work of an elevated instance: it installs the update's files in the standard
// installation folder, asking the application to close before it replaces them, and nothing else
// (no window, no re-check, no start of the application).
// Platform-free.

#include "updater/installation_handoff.h"
#include "updater/update_run.h"

namespace lumoradex {

// services.window only relays the progress messages; services.elevation is ignored.
HandOffExit InstallHandedOff(UpdateServices services);

} // namespace lumoradex
