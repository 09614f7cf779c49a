#include "tests/e2e/web_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace lumoradex::e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kNginx = "/usr/sbin/nginx";

// A descriptor, closed with it (none when negative).
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0)
            close(fd_);
    }
    int Fd() const { return fd_; }

private:
    int fd_;
};

// A descriptor that becomes readable when the process ends. glibc 2.36 declares pidfd_open without C
// linkage for C++, which cannot link: the system call is made directly.
int ExitDescriptor(pid_t pid) {
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

int Checked(int result, const char* what) {
    if (result < 0)
        throw std::system_error(errno, std::generic_category(), what);
    return result;
}

std::string ReadWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Quoted(const fs::path& path) {
    return "\"" + path.string() + "\"";
}

// One process in the foreground, which never changes user, whether root started it or not, and
// every file it writes (pid, logs, temporary bodies) in the prefix instead of the system's folders.
std::string Configuration(int port, const fs::path& root, const fs::path& prefix) {
    std::ostringstream text;
    text << "daemon off;\n"
         << "master_process off;\n"
         << "pid " << Quoted(prefix / "nginx.pid") << ";\n"
         << "error_log " << Quoted(prefix / "error.log") << " notice;\n"
         << "events {}\n"
         << "http {\n"
         << "    access_log " << Quoted(prefix / "access.log") << ";\n";
    for (const char* temporary : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        text << "    " << temporary << "_temp_path " << Quoted(prefix / temporary) << ";\n";
    text << "    default_type application/octet-stream;\n"
         << "    etag on;\n"
         << "    gzip off;\n"
         << "    server {\n"
         << "        listen 127.0.0.1:" << port << ";\n"
         << "        root " << Quoted(root) << ";\n"
         << "    }\n"
         << "}\n";
    return text.str();
}

bool Accepts(int port) {
    const Descriptor sock(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sock.Fd() >= 0 && connect(sock.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

// nginx writes its pid file once its port listens: until then another program there is not it.
bool Listening(const fs::path& pidFile, pid_t pid, int port) {
    std::ifstream in(pidFile);
    pid_t written = -1;
    return (in >> written) && written == pid && Accepts(port);
}

} // namespace

TemporaryFolder::TemporaryFolder(std::string_view prefix) {
    std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(), "cannot make a folder like " + pattern);
    path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

WebServer::WebServer(int port, const fs::path& root) : port_(port), folder_("lumoradex-nginx") {
    const fs::path& prefix = folder_.Path();
    std::ofstream(prefix / "nginx.conf") << Configuration(port, fs::absolute(root), prefix);
    // Woken when nginx writes its pid file, and when it exits.
    const Descriptor changes(Checked(inotify_init1(IN_NONBLOCK | IN_CLOEXEC), "inotify_init1"));
    Checked(inotify_add_watch(changes.Fd(), prefix.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO), "inotify_add_watch");
    nginx_ = ChildProcess::Spawn({kNginx, "-p", prefix.string() + "/", "-c", (prefix / "nginx.conf").string(), "-e",
                                  (prefix / "error.log").string()},
                                 EnvironmentWith({}), prefix, prefix / "output.log");
    const Descriptor exited(Checked(ExitDescriptor(nginx_.Pid()), "pidfd_open"));
    const auto failure = [&](const std::string& what) {
        return std::runtime_error("nginx " + what + " on 127.0.0.1:" + std::to_string(port) + ": " +
                                  ReadWhole(prefix / "output.log") + ReadWhole(prefix / "error.log"));
    };
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!Listening(prefix / "nginx.pid", nginx_.Pid(), port)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            throw failure("did not listen within 10 s");
        pollfd events[] = {{changes.Fd(), POLLIN, 0}, {exited.Fd(), POLLIN, 0}};
        // The short time-out only covers a pid file written before its port listens.
        if (poll(events, 2, static_cast<int>(std::min<long long>(left, 100))) < 0 && errno != EINTR)
            throw std::system_error(errno, std::generic_category(), "poll");
        if ((events[1].revents & POLLIN) != 0)
            throw failure("stopped instead of listening");
        char drained[4096];
        while (read(changes.Fd(), drained, sizeof drained) > 0) {
        }
    }
}

WebServer::~WebServer() {
    // A fast shutdown: nginx drops its connections and exits; whatever is left of it dies with nginx_.
    const Descriptor exited(ExitDescriptor(nginx_.Pid()));
    if (exited.Fd() >= 0 && kill(nginx_.Pid(), SIGTERM) == 0) {
        pollfd ended{exited.Fd(), POLLIN, 0};
        poll(&ended, 1, 5000);
    }
}

} // namespace lumoradex::e2e
