// The program with the elevation test seam, which no release build holds: Wine has no UAC ("runas"
// starts the program as it is), and the tests run as root, whom Wine lets write anywhere.
// LUMORADEX_TEST_READ_ONLY makes every folder read as not writable; LUMORADEX_TEST_DECLINE_ELEVATION
// makes the prompt refused.

#include <windows.h>

#include <cstdlib>
#include <memory>

#include "system/elevation_win.h"
#include "update_public_key.h"
#include "updater/main/program_win.h"

namespace {

class TestSeamElevation final : public lumoradex::Win32Elevation {
public:
    using Win32Elevation::Win32Elevation;

    bool MayWriteIn(const std::string& folder, std::span<const std::string_view> names) override {
        return std::getenv("LUMORADEX_TEST_READ_ONLY") == nullptr && Win32Elevation::MayWriteIn(folder, names);
    }
    std::optional<int> RunElevated(const std::string& program, const std::string& arguments,
                                   const std::function<void(const std::string&)>& progress) override {
        if (std::getenv("LUMORADEX_TEST_DECLINE_ELEVATION") != nullptr)
            return std::nullopt;
        return Win32Elevation::RunElevated(program, arguments, progress);
    }
};

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    return lumoradex::RunUpdater(instance, kUpdatePublicKey, [](HWND progressWindow) {
        return std::make_unique<TestSeamElevation>(progressWindow);
    });
}
