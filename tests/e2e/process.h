#pragma once
// Linux processes for the driver: programs run to their end with their output captured (xdotool,
// convert, the inspector), and long-running children in a process group of their own (Wine
// programs), so that everything they start can be ended with them; and the peak memory of any process.

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumoradex::e2e {

// "NAME=value" entries, as execve takes them.
using Environment = std::vector<std::string>;

// The driver's own environment with some variables set or replaced.
Environment EnvironmentWith(const std::vector<std::pair<std::string, std::string>>& variables);

struct CommandResult {
    int exitCode = -1; // 128 + signal when killed
    bool timedOut = false;
    std::string output; // standard output
    std::string errors; // standard error, kept apart so that no program holds the test runner's
};

// Runs argv[0] (searched in PATH) to its end, writing input to its standard input; kills it once
// the time-out passes (its output so far is kept).
CommandResult RunCommand(const std::vector<std::string>& argv, const Environment& environment,
                         std::string_view input = {}, std::chrono::milliseconds timeout = std::chrono::seconds(30));

// A started program, leader of its own process group; ending it ends the whole group.
class ChildProcess {
public:
    // Standard input from /dev/null, standard output and error appended to outputFile.
    static ChildProcess Spawn(const std::vector<std::string>& argv, const Environment& environment,
                              const std::filesystem::path& workingFolder, const std::filesystem::path& outputFile);

    ChildProcess() = default;
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess(); // kills the group

    pid_t Pid() const { return pid_; }
    bool Running();
    // The exit code once the process has ended (128 + signal when killed), nothing before.
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout);
    std::optional<int> ExitCode() const { return exitCode_; }
    // Kills every process of the group, reaps the leader and waits (up to 5 s) for the group to be gone.
    void KillGroup();

private:
    void Reap(bool block);

    pid_t pid_ = -1;
    std::optional<int> exitCode_;
};

// Its peak resident memory (VmHWM) in KiB; nothing once it has ended.
std::optional<std::size_t> PeakResidentKiB(pid_t pid);

// Whether a live (non-zombie) process of the group remains.
bool ProcessGroupAlive(pid_t group);
// Kills a process group and waits up to the time-out for its live members to go.
void KillProcessGroup(pid_t group, std::chrono::milliseconds timeout = std::chrono::seconds(5));

} // namespace lumoradex::e2e
