#include "updater/main/program_win.h"

#include <memory>
#include <string>
#include <string_view>

#include "base/system_library_win.h"
#include "controls/BoutonLMX_win.h"
#include "system/command_line_win.h"
#include "system/debug_trace_win.h"
#include "system/environment_win.h"
#include "system/installation_files_win.h"
#include "system/net/transfer_win.h"
#include "system/process_services_win.h"
#include "system/progress_relay_win.h"
#include "updater/check/load_handler.h"
#include "updater/install/elevated_installation.h"
#include "updater/install/installation_handoff.h"
#include "updater/install/update_run.h"
#include "updater/window/Principal_win.h"
#include "updater/window/principal_class_win.h"

namespace lumoradex {
namespace {

std::unique_ptr<CngReleaseVerifier> VerifierOf(const std::optional<P256PublicKey>& releaseKey) {
    return releaseKey ? std::make_unique<CngReleaseVerifier>(*releaseKey) : nullptr;
}

// Started by another instance to install on its behalf: that alone, with no window.
int RunHandOff(std::string_view commandLine, const std::optional<P256PublicKey>& releaseKey) {
    const std::optional<InstallationHandOff> handOff = ParseHandOff(commandLine);
    if (!handOff)
        return static_cast<int>(HandOffExit::Refused);
    RelayedProgress progress(reinterpret_cast<HWND>(handOff->progressWindow), kPrincipalClassName);
    Win32Environment environment;
    WinInetTransfer transfer;
    Win32InstallationFiles files;
    Win32ProcessServices process;
    DebugStringTrace trace;
    const std::unique_ptr<CngReleaseVerifier> verifier = VerifierOf(releaseKey);
    return static_cast<int>(
        InstallHandedOff({environment, transfer, files, process, verifier.get(), nullptr, &trace}, progress));
}

} // namespace

// The program has no start-up of its own: it loads its only window, whose load handler does the
// rest. A window still open when the handler returns is shown then.
int RunUpdater(HINSTANCE instance, const std::optional<P256PublicKey>& releaseKey,
               const ElevationFactory& makeElevation) {
    // The updater runs beside downloaded files: libraries come from the system folder only.
    RestrictLibrarySearchToSystemFolder();

    const std::string commandLine = ArgumentText();
    if (IsHandOff(commandLine))
        return RunHandOff(commandLine, releaseKey);

    RegisterBoutonLMX(instance);
    Win32Environment environment;
    WinInetTransfer transfer; // Inet1
    Win32InstallationFiles files;
    Win32ProcessServices process;
    DebugStringTrace trace;
    const std::unique_ptr<CngReleaseVerifier> verifier = VerifierOf(releaseKey);

    Principal window(instance, process);
    const std::unique_ptr<Elevation> elevation = makeElevation(window.Handle());
    LoadHandler loadHandler(window, environment, transfer);
    UpdateRun updateRun({environment, transfer, files, process, verifier.get(), &window, &trace}, window,
                        elevation.get(), [&] { loadHandler.Run(); });
    window.Attach(loadHandler, updateRun);

    window.Load();
    if (window.IsClosed())
        return 0;
    window.Show();
    return RunMessageLoop(window.Handle());
}

} // namespace lumoradex
