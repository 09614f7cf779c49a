#include <windows.h>

#include <cstdlib>
#include <memory>

#include "controls/BoutonLMX_win.h"
#include "system/command_line_win.h"
#include "system/elevation_win.h"
#include "update_public_key.h"
#include "updater/Principal_win.h"
#include "updater/elevated_installation_win.h"
#include "updater/installation_handoff.h"

namespace {

#ifdef LUMORADEX_ELEVATION_TEST_SEAM
// Built into a test program only, never into a release: Wine has no UAC ("runas" starts the program
// as it is), and the tests run as root, whom Wine lets write anywhere. LUMORADEX_TEST_READ_ONLY
// makes every folder read as not writable; LUMORADEX_TEST_DECLINE_ELEVATION makes the prompt refused.
class TestSeamElevation final : public lumoradex::Win32Elevation {
public:
    using Win32Elevation::Win32Elevation;

    bool MayWriteIn(const std::string& folder, std::span<const std::string_view> names) override {
        return std::getenv("LUMORADEX_TEST_READ_ONLY") == nullptr && Win32Elevation::MayWriteIn(folder, names);
    }
    std::optional<int> RunElevated(const std::string& arguments,
                                   const std::function<void(const std::string&)>& progress) override {
        if (std::getenv("LUMORADEX_TEST_DECLINE_ELEVATION") != nullptr)
            return std::nullopt;
        return Win32Elevation::RunElevated(arguments, progress);
    }
};
using ProgramElevation = TestSeamElevation;
#else
using ProgramElevation = lumoradex::Win32Elevation;
#endif

} // namespace

// The program has no start-up of its own: it loads its only window, whose load handler does the
// rest. A window still open when the handler returns is shown then. Started by another instance to
// install on its behalf, it does that alone, with no window.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // The updater runs beside downloaded files: libraries come from the system folder only.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

    const std::string commandLine = lumoradex::ArgumentText();
    if (lumoradex::IsHandOff(commandLine))
        return lumoradex::RunHandOff(commandLine, kUpdatePublicKey);

    lumoradex::RegisterBoutonLMX(instance);

    lumoradex::Principal window(instance, kUpdatePublicKey,
                                [](const HWND& handle) { return std::make_unique<ProgramElevation>(handle); });
    window.Load();
    if (window.IsClosed())
        return 0;
    window.Show();
    return lumoradex::RunMessageLoop(window.Handle());
}
