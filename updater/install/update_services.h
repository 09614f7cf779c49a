#pragma once
// What an installation works with: the adapters of the system, and the window it keeps alive where
// it has one. Platform-free.

#include "updater/install/install_views.h"
#include "updater/ports/environment.h"
#include "updater/ports/installation_files.h"
#include "updater/ports/process_services.h"
#include "updater/ports/release_verifier.h"
#include "updater/ports/transfer.h"
#include "updater/ports/update_trace.h"

namespace lumoradex {

struct UpdateServices {
    Environment& environment;
    Transfer& transfer;
    InstallationFiles& files;
    ProcessServices& process;
    ReleaseVerifier* releaseVerifier = nullptr; // set when releases must be signed
    WindowUpkeep* window = nullptr;             // none in an elevated instance, which has no window
    UpdateTrace* trace = nullptr;               // where the run marks its progress, if anywhere

    // The window keeps painting while the run waits or streams.
    void KeepPainted() const {
        if (window)
            window->RepaintNow();
    }
    void Mark(TracePoint point, std::string_view file = {}) const {
        if (trace)
            trace->Mark(point, file);
    }
};

} // namespace lumoradex
