#pragma once
// The composition root: the system's adapters built and handed to the workflows and the window.

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>

#include "system/release_verifier_win.h"
#include "updater/ports/elevation.h"

namespace lumoradex {

// Makes the elevation service for the window that owns the prompt and shows the progress.
using ElevationFactory = std::function<std::unique_ptr<Elevation>(HWND progressWindow)>;

// The whole program, from its command line; returns the exit code. With a release key, it
// installs signed releases only.
int RunUpdater(HINSTANCE instance, const std::optional<P256PublicKey>& releaseKey,
               const ElevationFactory& makeElevation);

} // namespace lumoradex
