// lumoradex-test-server: the loopback update server as a program, for the demo, the benchmarks and
// trying the updater by hand. It stops on SIGINT or SIGTERM, or by itself after --lifetime.
//
//   lumoradex-test-server [--port N] [--version TEXT] [--page FILE] [--root DIR] [--file NAME=PATH]...
//                         [--status PATH=CODE]... [--stall PATH]... [--bandwidth BYTES_PER_SECOND]
//                         [--lifetime SECONDS] [--quiet]
//
//   --port       port on 127.0.0.1 (default: the one of the build's UPDATE_SERVER_URL)
//   --version    publish this version on /version.htm ("Lumoradex V" + TEXT)
//   --page       serve this file as /version.htm
//   --root       serve DIR + path for every path without a reply of its own (/majv4/x from DIR/majv4/x)
//   --file       serve PATH as /majv4/NAME
//   --status     answer PATH with this status and a small error page
//   --stall      accept PATH and never answer
//   --bandwidth  limit every answer to this many bytes per second
//   --lifetime   stop after this many seconds (default 3600)
//   --quiet      do not print one line per request
// It prints "listening on http://127.0.0.1:PORT" once it accepts connections.

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/e2e/build_paths.h"
#include "tests/e2e/update_server.h"

namespace lumoradex::e2e {
namespace {

struct Options {
    int port = UpdateServerPort();
    int lifetimeSeconds = 3600;
    bool quiet = false;
    std::size_t bandwidth = 0;
    std::vector<std::string> actions; // applied in order once the server exists
};

std::pair<std::string, std::string> SplitAssignment(const std::string& text) {
    const size_t equals = text.find('=');
    if (equals == std::string::npos)
        throw std::invalid_argument("expected NAME=VALUE, got " + text);
    return {text.substr(0, equals), text.substr(equals + 1)};
}

std::string ReadWhole(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + file);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

[[noreturn]] void Usage(const std::string& problem) {
    std::cerr << "lumoradex-test-server: " << problem
              << "\nusage: lumoradex-test-server [--port N] [--version TEXT] [--page FILE] [--root DIR]"
                 " [--file NAME=PATH]... [--status PATH=CODE]... [--stall PATH]... [--bandwidth BPS]"
                 " [--lifetime SECONDS] [--quiet]\n";
    std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                Usage(option + " needs a value");
            return argv[++i];
        };
        if (option == "--port")
            options.port = std::stoi(value());
        else if (option == "--lifetime")
            options.lifetimeSeconds = std::stoi(value());
        else if (option == "--bandwidth")
            options.bandwidth = std::stoul(value());
        else if (option == "--quiet")
            options.quiet = true;
        else if (option == "--version" || option == "--page" || option == "--root" || option == "--file" ||
                 option == "--status" || option == "--stall")
            options.actions.push_back(option + "\n" + value());
        else
            Usage("unknown option " + option);
    }
    return options;
}

void Apply(UpdateServer& server, const std::string& action) {
    const size_t newline = action.find('\n');
    const std::string option = action.substr(0, newline);
    const std::string value = action.substr(newline + 1);
    if (option == "--version") {
        server.SetVersionPage(value);
    } else if (option == "--page") {
        server.Set("/version.htm", Reply::Page(ReadWhole(value)));
    } else if (option == "--root") {
        server.ServeFolder(value);
    } else if (option == "--file") {
        auto [name, path] = SplitAssignment(value);
        server.Set("/majv4/" + name, Reply::FromFile(path));
    } else if (option == "--status") {
        auto [path, code] = SplitAssignment(value);
        server.Set(path, Reply::Status(std::stoi(code)));
    } else if (option == "--stall") {
        server.Set(value, Reply::Stall());
    }
}

int Run(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    // The signals are taken by sigtimedwait below, in this thread, instead of by a handler.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    UpdateServer server(options.port);
    server.SetBandwidth(options.bandwidth);
    for (const std::string& action : options.actions)
        Apply(server, action);
    std::cout << "listening on " << server.BaseUrl() << std::endl;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.lifetimeSeconds);
    size_t printed = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        timespec tick{0, 200 * 1000 * 1000};
        if (sigtimedwait(&signals, nullptr, &tick) > 0)
            break;
        if (options.quiet)
            continue;
        const std::vector<ReceivedRequest> requests = server.Requests();
        for (; printed < requests.size(); ++printed)
            std::cout << requests[printed].method << " " << requests[printed].target << std::endl;
    }
    server.Stop();
    return 0;
}

} // namespace
} // namespace lumoradex::e2e

int main(int argc, char** argv) {
    try {
        return lumoradex::e2e::Run(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << "lumoradex-test-server: " << error.what() << "\n";
        return 1;
    }
}
