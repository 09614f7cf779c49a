#include "tests/e2e/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Feeds the input and collects the output until the child closes its output or the deadline passes.
void Exchange(int toChild, int fromChild, std::string_view input, std::string& output, Clock::time_point deadline,
              bool& timedOut) {
    size_t written = 0;
    if (input.empty() && toChild >= 0) {
        close(toChild);
        toChild = -1;
    }
    char buffer[65536];
    while (fromChild >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd fds[2] = {{fromChild, POLLIN, 0}, {toChild, POLLOUT, 0}};
        if (poll(fds, toChild >= 0 ? 2 : 1, static_cast<int>(left)) < 0 && errno != EINTR)
            break;
        if (toChild >= 0 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
            ssize_t count = write(toChild, input.data() + written, input.size() - written);
            if (count > 0)
                written += static_cast<size_t>(count);
            if (count < 0 || written == input.size()) {
                close(toChild);
                toChild = -1;
            }
        }
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            ssize_t count = read(fromChild, buffer, sizeof buffer);
            if (count > 0)
                output.append(buffer, static_cast<size_t>(count));
            else if (count == 0 || errno != EINTR)
                break;
        }
    }
    if (toChild >= 0)
        close(toChild);
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
    int output[2];
    int feed[2];
    if (pipe2(output, O_CLOEXEC) != 0)
        ThrowErrno("pipe", errno);
    if (pipe2(feed, O_CLOEXEC) != 0) {
        int code = errno;
        close(output[0]);
        close(output[1]);
        ThrowErrno("pipe", code);
    }
    fcntl(feed[1], F_SETFL, O_NONBLOCK);
    SpawnAttributes spawn;
    posix_spawn_file_actions_adddup2(&spawn.actions_, feed[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&spawn.actions_, output[1], STDOUT_FILENO);
    pid_t pid = -1;
    try {
        pid = SpawnProcess(argv, environment, spawn);
    } catch (...) {
        for (int fd : {output[0], output[1], feed[0], feed[1]})
            close(fd);
        throw;
    }
    close(output[1]);
    close(feed[0]);
    CommandResult result;
    Exchange(feed[1], output[0], input, result.output, Clock::now() + timeout, result.timedOut);
    close(output[0]);
    if (result.timedOut)
        kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = DecodeStatus(status);
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

} // namespace lumoradex::e2e
