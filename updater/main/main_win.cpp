#include <windows.h>

#include <memory>

#include "system/elevation_win.h"
#include "update_public_key.h"
#include "updater/main/program_win.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    return lumoradex::RunUpdater(instance, kUpdatePublicKey, [](HWND progressWindow) {
        return std::make_unique<lumoradex::Win32Elevation>(progressWindow);
    });
}
