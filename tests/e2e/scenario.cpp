#include "tests/e2e/scenario.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/e2e/build_paths.h"

namespace lumoradex::e2e {
namespace {

namespace fs = std::filesystem;

std::string ReadWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + file.string());
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Windows paths join with a backslash; a drive root already ends with one.
std::string JoinWindows(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (!path.empty() && path.back() != '\\')
        path += '\\';
    return path + std::string(name);
}

} // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds interval) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(interval);
    }
}

WineProgram::WineProgram(ChildProcess process, std::string program, fs::path output)
    : process_(std::move(process)), program_(std::move(program)), output_(std::move(output)) {}

std::string WineProgram::Output() const {
    std::error_code error;
    return fs::exists(output_, error) ? ReadWhole(output_) : std::string();
}

Scenario::Scenario()
    : session_(WineSession::FromEnvironment()), display_(session_), output_(session_.StateFolder() / "e2e-output") {
    if (!fs::exists(UpdaterExecutable()))
        throw std::runtime_error("no " + UpdaterExecutable().string() + ": build the Windows tree first");
    // A test that failed half-way may have left programs running: they would receive this
    // scenario's close requests and hold its files.
    session_.EndPrograms();
    fs::remove_all(output_);
    fs::create_directories(output_);
    ClearFolders();
}

Scenario::~Scenario() {
    // Programs first, with those they started: a stalled fetch must not be answered by a server
    // on its way out.
    programs_.clear();
    session_.EndPrograms();
    StopServer();
}

void Scenario::ClearFolders() const {
    fs::remove_all(Linux(kInstallFolder));
    fs::remove_all(Linux(kScratchFolder));
    fs::create_directories(Linux(kScratchFolder));
    for (const auto& entry : fs::directory_iterator(Linux(kOtherDrive)))
        fs::remove_all(entry.path());
}

void Scenario::CreateFolder(std::string_view folder) const {
    fs::create_directories(Linux(folder));
}

void Scenario::WriteFile(std::string_view path, std::string_view bytes) const {
    const fs::path file = Linux(path);
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

std::string Scenario::ReadFile(std::string_view path) const {
    return ReadWhole(Linux(path));
}

bool Scenario::Exists(std::string_view path) const {
    std::error_code error;
    return fs::exists(Linux(path), error);
}

void Scenario::Remove(std::string_view path) const {
    fs::remove_all(Linux(path));
}

std::vector<std::string> Scenario::FolderEntries(std::string_view folder) const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(Linux(folder), error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Wine keeps the DOS attributes in extended attributes of the Linux file; attrib sets them as
// Windows would.
void Scenario::SetAttributes(std::string_view path, std::string_view attributes) const {
    std::vector<std::string> argv{session_.Loader(), "attrib"};
    std::istringstream words{std::string(attributes)};
    for (std::string word; words >> word;)
        argv.push_back(word);
    argv.emplace_back(path);
    CommandResult result = RunCommand(argv, session_.Variables(), {}, 30s);
    if (result.exitCode != 0)
        throw std::runtime_error("attrib failed on " + std::string(path) + ": " + result.output + result.errors);
}

std::string Scenario::VelmorBytes(std::string_view version) {
    return ReadWhole(VelmorFixture(version));
}

void Scenario::CopyInto(const fs::path& source, std::string_view folder, const char* name) const {
    const fs::path target = Linux(JoinWindows(folder, name));
    fs::create_directories(target.parent_path());
    fs::copy_file(source, target, fs::copy_options::overwrite_existing);
}

std::string Scenario::PlaceVelmor(std::string_view version, std::string_view folder) const {
    CopyInto(VelmorFixture(version), folder, "Velmor.exe");
    return JoinWindows(folder, "Velmor.exe");
}

std::string Scenario::PlaceUpdater(std::string_view folder) const {
    CopyInto(updaterProgram_, folder, "MAJLumoradex.exe");
    return JoinWindows(folder, "MAJLumoradex.exe");
}

std::string Scenario::PlaceFakeExplorer(std::string_view folder) const {
    CopyInto(FixturePath("explorer/explorer.exe"), folder, "explorer.exe");
    return JoinWindows(folder, "explorer.exe");
}

std::vector<Record> Scenario::LogIn(std::string_view folder, const char* name) const {
    const fs::path log = Linux(JoinWindows(folder, name));
    std::error_code error;
    if (!fs::exists(log, error))
        return {};
    return ParseRecords(ReadWhole(log));
}

std::vector<Record> Scenario::VelmorLog(std::string_view folder) const {
    return LogIn(folder, "velmor.log");
}

std::vector<Record> Scenario::ExplorerLog(std::string_view folder) const {
    return LogIn(folder, "explorer.log");
}

UpdateServer& Scenario::Server() {
    if (!server_)
        server_ = std::make_unique<UpdateServer>(UpdateServerPort());
    return *server_;
}

void Scenario::StopServer() {
    if (server_)
        server_->Stop();
}

WineProgram& Scenario::Start(std::string_view program, std::vector<std::string> arguments,
                             std::string_view workingFolder) {
    const fs::path folder = Linux(workingFolder);
    if (!fs::is_directory(folder))
        throw std::invalid_argument("working folder " + std::string(workingFolder) + " does not exist");
    std::vector<std::string> argv{session_.Loader(), std::string(program)};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const std::string name = std::string(program.substr(program.find_last_of("\\/") + 1));
    const fs::path output = output_ / (std::to_string(programs_.size() + 1) + "-" + name + ".log");
    // Wine takes the Unix working folder of its loader as the program's current folder.
    Environment environment;
    for (const std::string& variable : session_.Variables()) {
        const std::string name = variable.substr(0, variable.find('=') + 1);
        if (std::none_of(programVariables_.begin(), programVariables_.end(),
                         [&](const std::string& own) { return own.starts_with(name); }))
            environment.push_back(variable);
    }
    environment.insert(environment.end(), programVariables_.begin(), programVariables_.end());
    programs_.emplace_back(ChildProcess::Spawn(argv, environment, folder, output), std::string(program), output);
    return programs_.back();
}

WineProgram& Scenario::StartInteractive(std::string_view workingFolder, std::string argument) {
    if (updater_.empty())
        updater_ = PlaceUpdater();
    return Start(updater_, {std::move(argument)}, workingFolder);
}

WineProgram& Scenario::StartAutomatic(std::string_view workingFolder) {
    if (updater_.empty())
        updater_ = PlaceUpdater();
    return Start(updater_, {}, workingFolder);
}

std::optional<WindowReport> Scenario::Inspect(std::string_view title) const {
    return InspectWindow(session_, title);
}

std::optional<WindowReport> Scenario::WaitForWindow(std::string_view title, std::chrono::milliseconds timeout,
                                                    bool visibleOnly) const {
    InspectOptions options;
    options.wait = timeout;
    options.visibleOnly = visibleOnly;
    return InspectWindow(session_, title, options);
}

bool Scenario::PostClose(std::string_view title) const {
    InspectOptions options;
    options.postClose = true;
    return InspectWindow(session_, title, options).has_value();
}

VisibilityWatch Scenario::WatchWhileRunning(WineProgram& program, std::string_view title,
                                            std::chrono::milliseconds timeout) const {
    VisibilityWatch watch;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool running = true;
    while (running && std::chrono::steady_clock::now() < deadline) {
        running = program.Running();
        watch.everVisible = watch.everVisible || display_.FindWindow(title).has_value();
        if (running)
            std::this_thread::sleep_for(20ms);
    }
    watch.ended = !program.Running();
    watch.exitCode = program.WaitForExit(0ms);
    return watch;
}

} // namespace lumoradex::e2e
