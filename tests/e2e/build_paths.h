#pragma once
// Where the driver finds what the build made: the source tree, the Windows tree's program and
// fixtures, and the update server address the program was built for. CMake passes these in.

#include <filesystem>
#include <string>
#include <string_view>

namespace lumoradex::e2e {

std::filesystem::path SourceFolder();
std::filesystem::path SessionScript();
// The Windows tree this machine runs: build/win32 or build/win64 (LUMORADEX_WINDOWS_BUILD).
std::filesystem::path WindowsBuildFolder();
std::filesystem::path UpdaterExecutable();
// The same program built with the public half of the test release key: it installs signed releases only.
std::filesystem::path SignedUpdaterExecutable();
// The program with the elevation test seam, built with the test release key: LUMORADEX_TEST_READ_ONLY
// in its environment makes every folder read as not writable, LUMORADEX_TEST_DECLINE_ELEVATION makes
// the elevation prompt refused.
std::filesystem::path SeamUpdaterExecutable();
// A fixture program or file, relative to the Windows tree's fixtures folder: "inspector/inspector.exe".
std::filesystem::path FixturePath(std::string_view relative);
// A copy of the fixture application: version "4.2.0.1" (four parts, as built) or "noversion".
std::filesystem::path VelmorFixture(std::string_view version);

// The program of the Windows tree's HTTPS twin (build/win32-https or build/win64-https), built for
// https://localhost:PORT, and that port.
std::filesystem::path HttpsUpdaterExecutable();
int HttpsUpdateServerPort();

// UPDATE_SERVER_URL the Windows tree's program was built with ("http://127.0.0.1:18080"), and its
// port (80 when it names none).
std::string UpdateServerUrl();
int UpdateServerPort();

} // namespace lumoradex::e2e
