#include "updater/release/server_addresses.h"

#include <gtest/gtest.h>

#include "build_config.h"

namespace lumoradex {
namespace {

TEST(ServerAddresses, PathsHangOffTheBuildTimeServer) {
    const std::string server = UPDATE_SERVER_URL;
    EXPECT_EQ(VersionPageUrl(), server + "/version.htm");
    EXPECT_EQ(DownloadUrl("Velmor.exe"), server + "/majv4/Velmor.exe");
    EXPECT_EQ(SupportPageUrl(), server + "/support.htm");
}

} // namespace
} // namespace lumoradex
