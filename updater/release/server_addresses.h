#pragma once
// The three addresses of the update server, built on the server fixed at build time.

#include <string>
#include <string_view>

namespace lumoradex {

std::string VersionPageUrl();
std::string DownloadUrl(std::string_view fileName);
std::string SupportPageUrl();

} // namespace lumoradex
