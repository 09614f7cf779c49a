#pragma once
// One end-to-end scenario: its Windows folders, fixtures, update server and programs under Wine.
// Creating a Scenario ends any program still running in the session and clears the folders the
// tests use; destroying it ends every program it started (and what those started) and stops its
// server.

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/e2e/build_paths.h"
#include "tests/e2e/process.h"
#include "tests/e2e/record.h"
#include "tests/e2e/update_server.h"
#include "tests/e2e/window_report.h"
#include "tests/e2e/wine_session.h"
#include "tests/e2e/x_display.h"

namespace lumoradex::e2e {

using namespace std::chrono_literals;

// Folders every scenario starts without: the standard installation, a scratch folder for working
// folders and copies of the updater, and the whole of drive D: ("another drive").
inline constexpr char kInstallFolder[] = "C:\\Program Files\\LumoradexV4";
inline constexpr char kScratchFolder[] = "C:\\e2e";
inline constexpr char kOtherDrive[] = "D:\\";
// Where PlaceUpdater puts MAJLumoradex.exe unless told otherwise.
inline constexpr char kUpdaterFolder[] = "C:\\e2e\\updater";

// Polls the condition until it holds or the time-out passes; returns whether it held.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds interval = 100ms);

// A Windows program started under Wine by a scenario.
class WineProgram {
public:
    WineProgram(ChildProcess process, std::string program, std::filesystem::path output);

    const std::string& Program() const { return program_; }
    // The Linux process that runs it (the loader turns into the Windows program itself), e.g. for /proc.
    pid_t LinuxPid() const { return process_.Pid(); }
    bool Running() { return process_.Running(); }
    // The exit code once it has ended (128 + signal when killed), nothing while it still runs.
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout = 20s) { return process_.WaitForExit(timeout); }
    // Ends it at once with what it started (a Windows program started by it shares its process group).
    void Kill() { process_.KillGroup(); }
    // What Wine and the program wrote to standard output and error.
    std::string Output() const;

private:
    ChildProcess process_;
    std::string program_;
    std::filesystem::path output_;
};

struct VisibilityWatch {
    bool everVisible = false; // a visible window with the title was seen
    bool ended = false;       // the program ended by itself before the time-out
    std::optional<int> exitCode;
};

class Scenario {
public:
    Scenario();
    Scenario(const Scenario&) = delete;
    Scenario& operator=(const Scenario&) = delete;
    ~Scenario();

    const WineSession& Session() const { return session_; }
    const XDisplay& Display() const { return display_; }
    // A Linux folder for this scenario's screenshots and program output; emptied when the next one starts.
    const std::filesystem::path& OutputFolder() const { return output_; }

    // Files, by Windows path. Folders are created as needed.
    std::filesystem::path Linux(std::string_view windowsPath) const { return session_.ToLinux(windowsPath); }
    void CreateFolder(std::string_view folder) const;
    void WriteFile(std::string_view path, std::string_view bytes) const;
    std::string ReadFile(std::string_view path) const; // throws when missing
    bool Exists(std::string_view path) const;
    void Remove(std::string_view path) const;                                     // a file or a whole folder
    std::vector<std::string> FolderEntries(std::string_view folder) const;        // names, sorted
    void SetAttributes(std::string_view path, std::string_view attributes) const; // "+h", "-r +s", ... (attrib)

    // Fixtures. Versions are the four-part file version the copy was built with ("4.2.0.1" reads
    // 4.2.1), or "noversion". Each returns the Windows path of the placed program.
    static std::string VelmorBytes(std::string_view version);
    std::string PlaceVelmor(std::string_view version, std::string_view folder) const;
    std::string PlaceUpdater(std::string_view folder = kUpdaterFolder) const;
    // From now on PlaceUpdater places this build of the program (SignedUpdaterExecutable, say).
    void UseUpdater(std::filesystem::path program) { updaterProgram_ = std::move(program); }
    // An environment variable for the programs started from now on: "NAME=value", in place of the
    // session's own (WINEDEBUG, say).
    void SetProgramVariable(std::string variable) { programVariables_.push_back(std::move(variable)); }
    std::string PlaceFakeExplorer(std::string_view folder) const;
    // The records of the fixture logs in a folder (velmor.log, explorer.log); empty when there is none.
    std::vector<Record> VelmorLog(std::string_view folder) const;
    std::vector<Record> ExplorerLog(std::string_view folder) const;

    // The loopback server on the port of the build's UPDATE_SERVER_URL, started on first use.
    // A scenario that never asks for it has no server at all (connections are refused).
    UpdateServer& Server();
    void StopServer();

    // Starts a Windows program (Windows path) with the arguments, in the working folder (Windows path).
    WineProgram& Start(std::string_view program, std::vector<std::string> arguments = {},
                       std::string_view workingFolder = "C:\\");
    // MAJLumoradex.exe from PlaceUpdater (placed in kUpdaterFolder first if it was not), started
    // with an argument (interactive mode) or with none (automatic mode).
    WineProgram& StartInteractive(std::string_view workingFolder, std::string argument = "/interactif");
    WineProgram& StartAutomatic(std::string_view workingFolder);

    // The window with that title now (hidden ones included), or once it exists within the time-out.
    std::optional<WindowReport> Inspect(std::string_view title = kUpdaterTitle) const;
    std::optional<WindowReport> WaitForWindow(std::string_view title = kUpdaterTitle,
                                              std::chrono::milliseconds timeout = 15s, bool visibleOnly = true) const;
    // Posts WM_CLOSE to the window, as another program would; false when there is none.
    bool PostClose(std::string_view title) const;
    // Until the program ends or the time-out passes, looks for a visible window with the title.
    VisibilityWatch WatchWhileRunning(WineProgram& program, std::string_view title = kUpdaterTitle,
                                      std::chrono::milliseconds timeout = 15s) const;

private:
    std::vector<Record> LogIn(std::string_view folder, const char* name) const;
    void CopyInto(const std::filesystem::path& source, std::string_view folder, const char* name) const;
    void ClearFolders() const;

    const WineSession& session_;
    XDisplay display_;
    std::filesystem::path output_;
    std::unique_ptr<UpdateServer> server_;
    std::deque<WineProgram> programs_;
    std::string updater_;
    std::filesystem::path updaterProgram_ = UpdaterExecutable();
    Environment programVariables_;
};

} // namespace lumoradex::e2e
