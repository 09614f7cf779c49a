#include "tests/e2e/unmanaged_windows.h"

#include <chrono>
#include <stdexcept>

namespace lumoradex::e2e {
namespace {

constexpr char kKey[] = "HKCU\\Software\\Wine\\X11 Driver";

} // namespace

UnmanagedWindows::UnmanagedWindows(const WineSession& session) : session_(session) {
    Registry({"add", kKey, "/v", "Managed", "/d", "N", "/f"});
}

UnmanagedWindows::~UnmanagedWindows() {
    try {
        Registry({"delete", kKey, "/v", "Managed", "/f"});
    } catch (const std::exception&) {
    }
}

void UnmanagedWindows::Registry(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), {session_.Loader(), "reg"});
    if (RunCommand(arguments, session_.Variables(), {}, std::chrono::seconds(30)).exitCode != 0)
        throw std::runtime_error("wine reg " + arguments[2] + " failed");
}

} // namespace lumoradex::e2e
