#include "tests/e2e/build_paths.h"

#include <fstream>
#include <optional>
#include <stdexcept>

namespace lumoradex::e2e {

namespace fs = std::filesystem;

fs::path SourceFolder() {
    return LUMORADEX_E2E_SOURCE_DIR;
}

fs::path SessionScript() {
    return SourceFolder() / "tests" / "wine" / "session.sh";
}

fs::path WindowsBuildFolder() {
    return LUMORADEX_E2E_WINDOWS_BUILD_DIR;
}

fs::path UpdaterExecutable() {
    return WindowsBuildFolder() / "MAJLumoradex.exe";
}

fs::path SignedUpdaterExecutable() {
    return WindowsBuildFolder() / "signed" / "MAJLumoradex.exe";
}

fs::path SeamUpdaterExecutable() {
    return WindowsBuildFolder() / "seam" / "MAJLumoradex.exe";
}

fs::path FixturePath(std::string_view relative) {
    return WindowsBuildFolder() / "fixtures" / fs::path(relative);
}

fs::path VelmorFixture(std::string_view version) {
    fs::path path = FixturePath("velmor") / fs::path(version) / "Velmor.exe";
    if (!fs::exists(path))
        throw std::invalid_argument("no fixture " + path.string() +
                                    " (build the Windows tree; copies are listed in "
                                    "tests/fixtures/velmor/CMakeLists.txt)");
    return path;
}

namespace {

fs::path HttpsBuildFolder() {
    return WindowsBuildFolder().string() + "-https";
}

std::optional<std::string> CachedServerUrl(const fs::path& buildFolder) {
    std::ifstream cache(buildFolder / "CMakeCache.txt");
    const std::string key = "UPDATE_SERVER_URL:STRING=";
    for (std::string line; std::getline(cache, line);)
        if (line.compare(0, key.size(), key) == 0)
            return line.substr(key.size());
    return std::nullopt;
}

int PortOf(const std::string& url) {
    const size_t hostStart = url.find("://");
    const size_t colon = url.find(':', hostStart == std::string::npos ? 0 : hostStart + 3);
    if (colon != std::string::npos)
        return std::stoi(url.substr(colon + 1));
    return url.starts_with("https:") ? 443 : 80;
}

} // namespace

fs::path HttpsUpdaterExecutable() {
    return HttpsBuildFolder() / "MAJLumoradex.exe";
}

int HttpsUpdateServerPort() {
    const std::optional<std::string> url = CachedServerUrl(HttpsBuildFolder());
    if (!url)
        throw std::runtime_error("no HTTPS tree at " + HttpsBuildFolder().string() + " (see scripts/test.sh)");
    return PortOf(*url);
}

// The program listens to the address it was built with: the Windows tree's setting wins over this
// tree's own when the two were configured differently.
std::string UpdateServerUrl() {
    return CachedServerUrl(WindowsBuildFolder()).value_or(LUMORADEX_E2E_UPDATE_SERVER_URL);
}

int UpdateServerPort() {
    return PortOf(UpdateServerUrl());
}

} // namespace lumoradex::e2e
