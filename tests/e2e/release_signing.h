#pragma once
// Signed releases for the tests, made as the maker makes them: tools/sign-release over a release
// folder, with the test key pair of tests/keys (never used for anything else).

#include <filesystem>
#include <string_view>
#include <vector>

namespace lumoradex::e2e {

// The key whose public half the signed test program is built with, and a key it does not know.
std::filesystem::path TestReleaseKey();
std::filesystem::path OtherTestKey();

// Writes release.txt and release.sig into the folder (a Linux path), and the patches from the earlier
// releases' folders with their list; throws when the script fails.
void SignRelease(const std::filesystem::path& folder, std::string_view version,
                 const std::filesystem::path& key = TestReleaseKey(),
                 const std::vector<std::filesystem::path>& earlierReleases = {});

} // namespace lumoradex::e2e
