#pragma once
// A real web server for the tests: Debian's nginx serving a folder on 127.0.0.1, with its own ETags,
// ranges and If-Range, so that the program is also seen against answers nobody scripted. Put the
// loopback server in front of it (UpdateServer::ProxyTo) to cut its answers on the way.
//
//     TemporaryFolder files("lumoradex-files");
//     WebServer nginx(18231, files.Path());                 // serves until destroyed
//     server.ProxyTo(nginx.BaseUrl());

#include <filesystem>
#include <string>
#include <string_view>

#include "tests/e2e/process.h"

namespace lumoradex::e2e {

// A new empty folder under the system's temporary folder, removed with all it holds.
class TemporaryFolder {
public:
    explicit TemporaryFolder(std::string_view prefix);
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    ~TemporaryFolder();

    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

class WebServer {
public:
    // Starts /usr/sbin/nginx on 127.0.0.1:port serving root (its configuration, logs and temporary
    // files in a folder of its own) and returns once it accepts connections; throws
    // std::runtime_error with nginx's log when it does not start.
    WebServer(int port, const std::filesystem::path& root);
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;
    ~WebServer(); // stops nginx and waits for it

    int Port() const { return port_; }
    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
    int port_;
    TemporaryFolder folder_;
    ChildProcess nginx_;
};

} // namespace lumoradex::e2e
