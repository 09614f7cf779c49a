#include "updater/release/server_addresses.h"

#include "build_config.h"

namespace lumoradex {

std::string VersionPageUrl() { return UPDATE_SERVER_URL "/version.htm"; }

std::string DownloadUrl(std::string_view fileName) {
    return UPDATE_SERVER_URL "/majv4/" + std::string(fileName);
}

std::string SupportPageUrl() { return UPDATE_SERVER_URL "/support.htm"; }

} // namespace lumoradex
