#include "updater/elevated_installation_win.h"

#include <memory>

#include "system/debug_trace_win.h"
#include "system/environment_win.h"
#include "system/installation_files_win.h"
#include "system/process_services_win.h"
#include "system/progress_relay_win.h"
#include "system/transfer_win.h"
#include "updater/Principal_win.h"
#include "updater/elevated_installation.h"

namespace lumoradex {

int RunHandOff(std::string_view commandLine, const std::optional<P256PublicKey>& releaseKey) {
    const std::optional<InstallationHandOff> handOff = ParseHandOff(commandLine);
    if (!handOff)
        return static_cast<int>(HandOffExit::Refused);
    RelayedProgressWindow window(reinterpret_cast<HWND>(handOff->progressWindow), Principal::kClassName);
    Win32Environment environment;
    WinInetTransfer transfer;
    Win32InstallationFiles files;
    Win32ProcessServices process;
    DebugStringTrace trace;
    const std::unique_ptr<CngReleaseVerifier> verifier =
        releaseKey ? std::make_unique<CngReleaseVerifier>(*releaseKey) : nullptr;
    return static_cast<int>(
        InstallHandedOff({window, environment, transfer, files, process, verifier.get(), nullptr, &trace}));
}

} // namespace lumoradex
