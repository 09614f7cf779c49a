#pragma once
// In-memory stand-ins for the window, the process environment and the transfer service, recording
// what the handlers do to them. A failure is injected by naming the operation that should throw.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/step_failure.h"
#include "updater/check/check_view.h"
#include "updater/ports/environment.h"
#include "updater/ports/transfer.h"

namespace lumoradex::fakes {

class FailureSwitch {
public:
    void Fail(const std::string& operation) { failing_[operation] = 0; }
    // The operation succeeds the given number of times, then fails.
    void FailAfter(const std::string& operation, int successes) { failing_[operation] = successes; }
    void Heal(const std::string& operation) { failing_.erase(operation); }
    void Check(const std::string& operation) const {
        const auto found = failing_.find(operation);
        if (found == failing_.end())
            return;
        if (found->second > 0) {
            --found->second;
            return;
        }
        throw StepFailure(operation, 21);
    }

private:
    mutable std::map<std::string, int> failing_;
};

class FakeWindow : public CheckView {
public:
    std::string VLocale() const override { return Read("VLocale", vLocale); }
    void SetVLocale(const std::string& text) override { Write("SetVLocale", vLocale, text); }
    std::string VSite() const override { return Read("VSite", vSite); }
    void SetVSite(const std::string& text) override { Write("SetVSite", vSite, text); }
    void SetMessage(const std::string& text) override { Write("SetMessage", message, text); }
    void SetMiseAJourVisible(bool visible) override {
        Record("SetMiseAJourVisible");
        miseAJourVisible = visible;
    }
    void SetActionCaption(const std::string& caption) override { Write("SetActionCaption", actionCaption, caption); }
    void Show() override {
        Record("Show");
        visible = true;
    }
    void MakeTopMost() override {
        Record("MakeTopMost");
        topMost = true;
    }
    void Close() override {
        Record("Close");
        closed = true;
    }
    void FlushMessages() override {
        Record("FlushMessages");
        messageWhenFlushed = message;
        visibleWhenFlushed = visible;
    }

    // The creation state of the window's items.
    std::string vLocale = "0.0.0";
    std::string vSite = "0.0.0";
    std::string message;
    bool miseAJourVisible = true;
    std::string actionCaption = "Fermer";
    bool visible = false;
    bool topMost = false;
    bool closed = false;
    std::optional<std::string> messageWhenFlushed;
    bool visibleWhenFlushed = false;

    std::vector<std::string> calls;
    FailureSwitch failures;

private:
    void Record(const std::string& operation) {
        calls.push_back(operation);
        failures.Check(operation);
    }
    std::string Read(const std::string& operation, const std::string& value) const {
        failures.Check(operation);
        return value;
    }
    void Write(const std::string& operation, std::string& target, const std::string& text) {
        Record(operation);
        target = text;
    }
};

// Folders are full paths without a trailing separator; the current folder of each drive is kept, as
// the platform does, so that changing the drive returns to it.
class FakeEnvironment : public Environment {
public:
    std::string CommandLine() const override {
        failures.Check("CommandLine");
        return commandLine;
    }
    bool OrdinaryFileExists(const std::string& path) const override {
        failures.Check("OrdinaryFileExists " + path);
        const std::string full = path.find('\\') == std::string::npos ? current + "\\" + path : path;
        return std::any_of(ordinaryFiles.begin(), ordinaryFiles.end(),
                           [&](const std::string& file) { return Lower(file) == Lower(full); });
    }
    std::string CurrentFolder() const override {
        failures.Check("CurrentFolder");
        return current;
    }
    void ChangeFolder(const std::string& folder) override {
        failures.Check("ChangeFolder");
        if (folders.count(Lower(folder)) == 0)
            throw StepFailure("ChangeFolder", 3);
        driveFolders[Lower(folder.substr(0, 2))] = folder;
        current = folder;
        changes.push_back("folder " + folder);
    }
    void ChangeDrive(const std::string& drive) override {
        failures.Check("ChangeDrive");
        const auto known = driveFolders.find(Lower(drive));
        current = known != driveFolders.end() ? known->second : drive + "\\";
        changes.push_back("drive " + drive);
    }
    std::string FileVersion(const std::string& fileName) const override {
        versionReads.push_back(fileName + " in " + current);
        const auto known = versions.find(current);
        return known != versions.end() ? known->second : "0.0.0";
    }

    void AddFile(const std::string& path) { ordinaryFiles.push_back(path); }
    void AddFolder(const std::string& folder) { folders.insert(Lower(folder)); }
    // The installation folder with the application in it, at the given version.
    void Install(const std::string& version) {
        AddFolder("C:\\Program Files\\LumoradexV4");
        AddFile("C:\\Program Files\\LumoradexV4\\Velmor.exe");
        versions["C:\\Program Files\\LumoradexV4"] = version;
    }
    // Starts the program in a folder holding the application at the given version.
    void StartIn(const std::string& folder, const std::string& version) {
        AddFolder(folder);
        AddFile(folder + "\\Velmor.exe");
        versions[folder] = version;
        current = folder;
        driveFolders[Lower(folder.substr(0, 2))] = folder;
    }

    std::string commandLine;
    std::string current = "C:\\";
    std::vector<std::string> ordinaryFiles;
    std::set<std::string> folders;
    std::map<std::string, std::string> driveFolders;
    std::map<std::string, std::string> versions; // by the folder the version is read in
    std::vector<std::string> changes;
    mutable std::vector<std::string> versionReads;
    FailureSwitch failures;

private:
    static std::string Lower(std::string text) {
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return text;
    }
};

// Answers fetches from a queue of pages; an empty entry is a failed fetch.
class FakeTransfer : public Transfer {
public:
    std::optional<std::string> FetchText(const std::string& url, std::size_t limit) override {
        fetchedUrls.push_back(url);
        fetchLimits.push_back(limit);
        if (onFetch)
            onFetch();
        if (pages.empty())
            return std::nullopt;
        std::optional<std::string> page = pages.front();
        pages.pop_front();
        return page;
    }
    DownloadResult Download(const std::string& url, DownloadSink&) override {
        fetchedUrls.push_back(url);
        return DownloadResult::Failed;
    }
    bool StillExecuting() const override { return false; }

    std::deque<std::optional<std::string>> pages;
    std::vector<std::string> fetchedUrls;
    std::vector<std::size_t> fetchLimits;
    std::function<void()> onFetch;
};

} // namespace lumoradex::fakes
