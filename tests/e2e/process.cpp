#include "tests/e2e/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

extern char** environ;

namespace lumoradex::e2e {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> CStrings(const std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (const std::string& text : texts)
        pointers.push_back(const_cast<char*>(text.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

int DecodeStatus(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

[[noreturn]] void ThrowErrno(const std::string& what, int code) {
    throw std::system_error(code, std::generic_category(), what);
}

class SpawnAttributes {
public:
    SpawnAttributes() {
        posix_spawnattr_init(&attributes_);
        posix_spawn_file_actions_init(&actions_);
    }
    ~SpawnAttributes() {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attributes_);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;

    posix_spawnattr_t attributes_;
    posix_spawn_file_actions_t actions_;
};

pid_t SpawnProcess(const std::vector<std::string>& argv, const Environment& environment, SpawnAttributes& spawn) {
    std::vector<char*> arguments = CStrings(argv);
    std::vector<char*> variables = CStrings(environment);
    pid_t pid = -1;
    int error =
        posix_spawnp(&pid, argv.at(0).c_str(), &spawn.actions_, &spawn.attributes_, arguments.data(), variables.data());
    if (error != 0)
        ThrowErrno("cannot start " + argv[0], error);
    return pid;
}

// Both ends of a pipe, closed with it.
class Pipe {
public:
    Pipe() {
        if (pipe2(ends_, O_CLOEXEC) != 0)
            ThrowErrno("pipe", errno);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    int Read() const { return ends_[0]; }
    int Write() const { return ends_[1]; }
    void CloseRead() { Close(ends_[0]); }
    void CloseWrite() { Close(ends_[1]); }

private:
    static void Close(int& fd) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
    int ends_[2] = {-1, -1};
};

// An anonymous file for a child's output. Unlike a pipe it never waits for its last writer: Wine
// programs start helpers (the desktop process) that inherit the standard streams and outlive them.
class CaptureFile {
public:
    CaptureFile() : fd_(memfd_create("lumoradex-capture", MFD_CLOEXEC)) {
        if (fd_ < 0)
            ThrowErrno("memfd_create", errno);
    }
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;
    ~CaptureFile() { close(fd_); }
    int Fd() const { return fd_; }
    std::string Contents() const {
        std::string text;
        char buffer[65536];
        ssize_t count;
        off_t offset = 0;
        while ((count = pread(fd_, buffer, sizeof buffer, offset)) > 0) {
            text.append(buffer, static_cast<size_t>(count));
            offset += count;
        }
        return text;
    }

private:
    int fd_;
};

// Writes the input to the child while it runs; false when the deadline passed first.
bool Feed(Pipe& feed, std::string_view input, pid_t pid, int& status, bool& ended, Clock::time_point deadline) {
    size_t written = 0;
    while (written < input.size()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd fd{feed.Write(), POLLOUT, 0};
        if (poll(&fd, 1, static_cast<int>(std::min<long long>(left, 50))) < 0 && errno != EINTR)
            break;
        if ((fd.revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
            ssize_t count = write(feed.Write(), input.data() + written, input.size() - written);
            if (count < 0 && errno != EAGAIN && errno != EINTR)
                break;
            if (count > 0)
                written += static_cast<size_t>(count);
        }
        if (waitpid(pid, &status, WNOHANG) == pid) {
            ended = true;
            break;
        }
    }
    feed.CloseWrite();
    return true;
}

// Waits for the child until the deadline, then kills it; returns its decoded status.
int WaitOrKill(pid_t pid, Clock::time_point deadline, bool& timedOut) {
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return DecodeStatus(status);
        if (done < 0 && errno != EINTR)
            return -1;
        if (Clock::now() >= deadline) {
            timedOut = true;
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return DecodeStatus(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace

Environment EnvironmentWith(const std::vector<std::pair<std::string, std::string>>& variables) {
    Environment environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string_view text(*entry);
        bool replaced = false;
        for (const auto& [name, value] : variables)
            replaced = replaced || (text.size() > name.size() && text.compare(0, name.size(), name) == 0 &&
                                    text[name.size()] == '=');
        if (!replaced)
            environment.emplace_back(text);
    }
    for (const auto& [name, value] : variables)
        environment.push_back(name + "=" + value);
    return environment;
}

CommandResult RunCommand(const std::vector<std::string>& argv, const Environment& environment, std::string_view input,
                         std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    Pipe feed;
    CaptureFile output;
    CaptureFile errors;
    fcntl(feed.Write(), F_SETFL, O_NONBLOCK);
    SpawnAttributes spawn;
    posix_spawn_file_actions_adddup2(&spawn.actions_, feed.Read(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&spawn.actions_, output.Fd(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&spawn.actions_, errors.Fd(), STDERR_FILENO);
    const pid_t pid = SpawnProcess(argv, environment, spawn);
    feed.CloseRead();
    CommandResult result;
    int status = 0;
    bool ended = false;
    result.timedOut = !Feed(feed, input, pid, status, ended, deadline);
    if (ended)
        result.exitCode = DecodeStatus(status);
    else
        result.exitCode = WaitOrKill(pid, result.timedOut ? Clock::now() : deadline, result.timedOut);
    result.output = output.Contents();
    result.errors = errors.Contents();
    return result;
}

ChildProcess ChildProcess::Spawn(const std::vector<std::string>& argv, const Environment& environment,
                                 const std::filesystem::path& workingFolder, const std::filesystem::path& outputFile) {
    SpawnAttributes spawn;
    posix_spawnattr_setflags(&spawn.attributes_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    posix_spawnattr_setpgroup(&spawn.attributes_, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&spawn.attributes_, &none);
    posix_spawn_file_actions_addopen(&spawn.actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&spawn.actions_, STDOUT_FILENO, outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&spawn.actions_, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addchdir_np(&spawn.actions_, workingFolder.c_str());
    ChildProcess child;
    child.pid_ = SpawnProcess(argv, environment, spawn);
    return child;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), exitCode_(other.exitCode_) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        KillGroup();
        pid_ = std::exchange(other.pid_, -1);
        exitCode_ = other.exitCode_;
    }
    return *this;
}

ChildProcess::~ChildProcess() {
    KillGroup();
}

void ChildProcess::Reap(bool block) {
    if (pid_ < 0 || exitCode_)
        return;
    int status = 0;
    pid_t done;
    do {
        done = waitpid(pid_, &status, block ? 0 : WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done == pid_)
        exitCode_ = DecodeStatus(status);
    else if (done < 0)
        exitCode_ = -1; // not our child any more: nothing to wait for
}

bool ChildProcess::Running() {
    Reap(false);
    return pid_ >= 0 && !exitCode_;
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Running() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return exitCode_;
}

void ChildProcess::KillGroup() {
    if (pid_ < 0)
        return;
    kill(-pid_, SIGKILL);
    Reap(true);
    KillProcessGroup(pid_);
    pid_ = -1;
}

bool ProcessGroupAlive(pid_t group) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line))
            continue;
        // pid (comm) state ppid pgrp ...: the command may hold blanks and parentheses, so read after the last ')'.
        size_t close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        char state = 0;
        long parent = 0;
        long processGroup = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %ld %ld", &state, &parent, &processGroup) == 3 &&
            processGroup == group && state != 'Z' && state != 'X')
            return true;
    }
    return false;
}

void KillProcessGroup(pid_t group, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (ProcessGroupAlive(group) && Clock::now() < deadline) {
        kill(-group, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::optional<std::size_t> PeakResidentKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("VmHWM:"))
            return static_cast<std::size_t>(std::stoul(line.substr(6)));
    }
    return std::nullopt;
}

} // namespace lumoradex::e2e
