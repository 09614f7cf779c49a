#include <windows.h>

#include "controls/BoutonLMX_win.h"
#include "updater/Principal_win.h"
#include "update_public_key.h"

// The program has no start-up of its own: it loads its only window, whose load handler does the
// rest. A window still open when the handler returns is shown then.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // The updater runs beside downloaded files: libraries come from the system folder only.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

    lumoradex::RegisterBoutonLMX(instance);

    lumoradex::Principal window(instance, kUpdatePublicKey);
    window.Load();
    if (window.IsClosed())
        return 0;
    window.Show();
    return lumoradex::RunMessageLoop(window.Handle());
}
