#include "tests/e2e/release_signing.h"

#include <stdexcept>
#include <string>

#include "tests/e2e/build_paths.h"
#include "tests/e2e/process.h"

namespace lumoradex::e2e {

namespace fs = std::filesystem;

fs::path TestReleaseKey() {
    return SourceFolder() / "tests" / "keys" / "test_release_key.pem";
}

fs::path OtherTestKey() {
    return SourceFolder() / "tests" / "keys" / "test_other_key.pem";
}

void SignRelease(const fs::path& folder, std::string_view version, const fs::path& key,
                 const std::vector<fs::path>& earlierReleases) {
    std::vector<std::string> command{(SourceFolder() / "tools" / "sign-release").string(), folder.string(), key.string(),
                                     std::string(version)};
    for (const fs::path& earlier : earlierReleases)
        command.push_back(earlier.string());
    const CommandResult signing = RunCommand(command, EnvironmentWith({}));
    if (signing.exitCode != 0)
        throw std::runtime_error("tools/sign-release failed: " + signing.errors);
}

} // namespace lumoradex::e2e
