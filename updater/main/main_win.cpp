#include <windows.h>

#include <cstdlib>
#include <exception>
#include <memory>

#include "system/elevation_win.h"
#include "update_public_key.h"
#include "updater/main/program_win.h"

// An exception that no handler catches ends the program at once, as a crash would. The library's own
// handler would first write the exception's type, demangled, to the console that a GUI program does
// not have, and links the whole C++ demangler to do so: nearly a tenth of the program.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
} // namespace __gnu_cxx

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    return lumoradex::RunUpdater(instance, kUpdatePublicKey, [](HWND progressWindow) {
        return std::make_unique<lumoradex::Win32Elevation>(progressWindow);
    });
}
