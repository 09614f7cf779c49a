#pragma once
// In-memory stand-ins for everything an update run touches: the window, the folders and their
// files, the update server and the process. Each records what was done to it and can be told to fail.
// The run does a file's disk work on a thread of its own: the folders and the process may be used
// from two threads at once, and a test may hold the disk work at a point (beforeCommit).

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/step_failure.h"
#include "updater/install/install_views.h"
#include "updater/ports/elevation.h"
#include "updater/ports/environment.h"
#include "updater/ports/installation_files.h"
#include "updater/ports/process_services.h"
#include "updater/ports/release_verifier.h"
#include "updater/ports/transfer.h"

namespace lumoradex::update_fakes {

// One thread waits, up to a deadline, until another has got somewhere.
class Signal {
public:
    void Raise() {
        std::lock_guard lock(mutex_);
        raised_ = true;
        changed_.notify_all();
    }
    void Reset() {
        std::lock_guard lock(mutex_);
        raised_ = false;
    }
    // Whether it was raised before the deadline.
    bool WaitRaised(std::chrono::seconds deadline = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, deadline, [&] { return raised_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool raised_ = false;
};

class FakeWindow final : public UpdateRunView, public WindowUpkeep {
public:
    explicit FakeWindow(std::vector<std::string>& events) : events_(events) {}

    std::string VLocale() const override { return vLocale; }
    std::string VSite() const override { return vSite; }
    void SetMessage(const std::string& text) override {
        message = text;
        events_.push_back("message " + text);
    }
    void SetMiseAJourVisible(bool visible) override {
        miseAJourVisible = visible;
        events_.push_back(visible ? "show MiseAJour" : "hide MiseAJour");
    }
    void SetActionCaption(const std::string& caption) override {
        actionCaption = caption;
        events_.push_back("caption " + caption);
    }
    void FlushMessages() override { events_.push_back("flush"); }
    void RepaintNow() override {
        ++repaints;
        repainted.Raise();
    }

    std::string vLocale = "4.2.0";
    std::string vSite = "4.2.1";
    std::string message;
    bool miseAJourVisible = true;
    std::string actionCaption = "Me le rappeler plus tard";
    std::atomic<int> repaints = 0;
    Signal repainted;

private:
    std::vector<std::string>& events_;
};

// The working folder holds bare names; the installation folder's files are held under full paths.
class FakeDisk final : public Environment, public InstallationFiles {
public:
    std::map<std::string, std::string> files;
    std::string commandLine = "interactive";
    std::string currentFolder = "D:\\Lumoradex";
    bool sameFolder = false;
    // Failures to inject, by path.
    std::set<std::string> failDelete, failCreate, failCommit, failCopy, failReplace, failLength, failChangeFolder,
        failKeepAside, failOpen;
    std::map<std::string, std::size_t> failWriteAfter; // bytes accepted before a write fails
    std::map<std::string, std::size_t> peakSizes;      // the most a file written by Create ever held
    std::map<std::string, int> inUseTimes;             // ReplaceWith reports the target in use this often
    std::vector<std::string> replacements;             // "target <- source", in order
    std::vector<std::string> openedToRead;             // in order
    std::vector<std::string> renamedBeforeFlush;       // sources renamed before their flush had ended
    std::vector<std::pair<std::string, std::string>> sameFolderQueries;
    std::map<std::string, std::string> versions; // FileVersion's answers, by path as asked
    mutable std::vector<std::string> versionQueries;
    std::optional<std::uint64_t> freeBytes = 1ull << 40; // nothing: the free space cannot be read
    // Run inside the flush of a file written by Create, by path, before it counts as flushed.
    std::map<std::string, std::function<void()>> beforeCommit;

    std::string CommandLine() const override { return commandLine; }
    bool OrdinaryFileExists(const std::string& path) const override {
        std::lock_guard lock(mutex_);
        return std::ranges::any_of(files, [&](const auto& file) { return SameLetters(file.first, path); });
    }
    std::string CurrentFolder() const override {
        std::lock_guard lock(mutex_);
        return currentFolder;
    }
    void ChangeFolder(const std::string& folder) override {
        std::lock_guard lock(mutex_);
        FailIf(failChangeFolder, folder, "SetCurrentDirectory");
        currentFolder = folder;
    }
    void ChangeDrive(const std::string&) override {}
    std::string FileVersion(const std::string& path) const override {
        std::lock_guard lock(mutex_);
        versionQueries.push_back(path);
        const auto version = versions.find(path);
        return version != versions.end() ? version->second : "0.0.0";
    }

    std::int64_t Length(const std::string& path) const override {
        std::lock_guard lock(mutex_);
        FailIf(failLength, path, "Length");
        return static_cast<std::int64_t>(files.at(path).size());
    }
    void Delete(const std::string& path) override {
        std::lock_guard lock(mutex_);
        FailIf(failDelete, path, "Delete");
        if (files.erase(path) == 0)
            throw StepFailure("Delete", 2);
    }
    std::unique_ptr<FileWriter> Create(const std::string& path) override;
    std::unique_ptr<FileReader> OpenToRead(const std::string& path) override;
    // Flushed, as the interface promises.
    void Copy(const std::string& source, const std::string& destination) override {
        std::lock_guard lock(mutex_);
        FailIf(failCopy, destination, "Copy");
        files[destination] = files.at(source);
        flushed_.insert(destination);
    }
    ReplaceResult ReplaceWith(const std::string& target, const std::string& source) override {
        std::lock_guard lock(mutex_);
        return RenameLocked(target, source);
    }
    ReplaceResult RenameLocked(const std::string& target, const std::string& source) {
        FailIf(failReplace, target, "ReplaceWith");
        if (auto inUse = inUseTimes.find(target); inUse != inUseTimes.end() && inUse->second > 0) {
            --inUse->second;
            return ReplaceResult::TargetInUse;
        }
        if (!flushed_.contains(source))
            renamedBeforeFlush.push_back(source);
        files[target] = files.at(source);
        files.erase(source);
        replacements.push_back(target + " <- " + source);
        return ReplaceResult::Replaced;
    }
    bool KeepAside(const std::string& path, const std::string& aside) override {
        std::lock_guard lock(mutex_);
        FailIf(failKeepAside, path, "KeepAside");
        if (!files.contains(path))
            return false;
        if (files.contains(aside))
            throw StepFailure("KeepAside " + aside, 183);
        files[aside] = files.at(path);
        return true;
    }
    std::uint64_t FreeBytes(const std::string& folder) const override {
        if (!freeBytes)
            throw StepFailure("FreeBytes of " + folder, 21);
        return *freeBytes;
    }
    bool SameFolder(const std::string& first, const std::string& second) const override {
        std::lock_guard lock(mutex_);
        const_cast<FakeDisk*>(this)->sameFolderQueries.emplace_back(first, second);
        return sameFolder;
    }

    std::size_t ReadLocked(const std::string& path, std::uint64_t offset, std::byte* data, std::size_t size) const {
        std::lock_guard lock(mutex_);
        const std::string& content = files.at(path);
        if (offset >= content.size())
            return 0;
        const std::size_t count = std::min<std::size_t>(size, content.size() - offset);
        std::memcpy(data, content.data() + offset, count);
        return count;
    }
    std::uint64_t SizeLocked(const std::string& path) const {
        std::lock_guard lock(mutex_);
        return files.at(path).size();
    }

private:
    friend class FakeWriter;

    static bool SameLetters(const std::string& a, const std::string& b) {
        return std::ranges::equal(a, b, [](char x, char y) { return std::tolower(x) == std::tolower(y); });
    }
    static void FailIf(const std::set<std::string>& failing, const std::string& path, const char* operation) {
        if (failing.contains(path))
            throw StepFailure(operation, 5);
    }

    mutable std::mutex mutex_;
    std::set<std::string> flushed_; // files whose every byte is on the disk
};

class FakeWriter final : public FileWriter {
public:
    FakeWriter(FakeDisk& disk, std::string path) : disk_(disk), path_(std::move(path)) {}
    void Write(const std::byte* data, std::size_t size) override {
        std::lock_guard lock(disk_.mutex_);
        std::string& content = disk_.files.at(path_);
        if (auto limit = disk_.failWriteAfter.find(path_);
            limit != disk_.failWriteAfter.end() && content.size() + size > limit->second) {
            content.append(reinterpret_cast<const char*>(data), limit->second - content.size());
            throw StepFailure("WriteFile", 112);
        }
        content.append(reinterpret_cast<const char*>(data), size);
        disk_.peakSizes[path_] = std::max(disk_.peakSizes[path_], content.size());
    }
    void Flush() override {
        std::function<void()> hold;
        {
            std::lock_guard lock(disk_.mutex_);
            if (disk_.failCommit.contains(path_))
                throw StepFailure("FlushFileBuffers", 5);
            if (auto found = disk_.beforeCommit.find(path_); found != disk_.beforeCommit.end())
                hold = found->second;
        }
        if (hold)
            hold();
        std::lock_guard lock(disk_.mutex_);
        disk_.flushed_.insert(path_);
    }
    ReplaceResult RenameOver(const std::string& target) override {
        std::lock_guard lock(disk_.mutex_);
        return disk_.RenameLocked(target, path_);
    }
    std::uint64_t Size() const override { return disk_.SizeLocked(path_); }
    std::size_t ReadAt(std::uint64_t offset, std::byte* data, std::size_t size) override {
        return disk_.ReadLocked(path_, offset, data, size);
    }

private:
    FakeDisk& disk_;
    std::string path_;
};

class FakeReader final : public FileReader {
public:
    FakeReader(const FakeDisk& disk, std::string path) : disk_(disk), path_(std::move(path)) {}
    std::uint64_t Size() const override { return disk_.SizeLocked(path_); }
    std::size_t ReadAt(std::uint64_t offset, std::byte* data, std::size_t size) override {
        return disk_.ReadLocked(path_, offset, data, size);
    }

private:
    const FakeDisk& disk_;
    std::string path_;
};

inline std::unique_ptr<FileReader> FakeDisk::OpenToRead(const std::string& path) {
    std::lock_guard lock(mutex_);
    FailIf(failOpen, path, "OpenToRead");
    if (!files.contains(path))
        throw StepFailure("OpenToRead " + path, 2);
    openedToRead.push_back(path);
    return std::make_unique<FakeReader>(*this, path);
}

// A new file only, as the real one: whatever has the name already is never opened.
inline std::unique_ptr<FileWriter> FakeDisk::Create(const std::string& path) {
    std::lock_guard lock(mutex_);
    FailIf(failCreate, path, "Create");
    if (files.contains(path))
        throw StepFailure("Create " + path, 80);
    files[path].clear();
    flushed_.erase(path);
    return std::make_unique<FakeWriter>(*this, path);
}

// One answer of the update server; a failed answer may still deliver part of a body first. A body
// announces its length unless it is streamed (Unproven) or told otherwise; a refused one has none.
struct FakeAnswer {
    DownloadResult result = DownloadResult::Complete;
    std::string body;
    std::size_t chunkSize = 64;
    std::optional<std::optional<std::uint64_t>> announced = {}; // set: this instead of the body's length
};

class FakeServer final : public Transfer {
public:
    explicit FakeServer(std::vector<std::string>& events) : events_(events) {}

    std::map<std::string, FakeAnswer> answers; // by URL; any other URL fails
    std::map<std::string, std::string> texts;  // FetchText's answers, by URL; any other URL fails
    int busyPolls = 0;                         // StillExecuting reads true this many times after each download
    std::map<std::string, std::function<void()>> onDownload; // run as the download of a URL starts
    std::vector<std::optional<std::uint64_t>> expected;     // the lengths handed to the sinks, in order

    std::optional<std::string> FetchText(const std::string& url, std::size_t limit) override {
        events_.push_back("fetch " + url);
        auto text = texts.find(url);
        if (text == texts.end() || text->second.size() > limit)
            return std::nullopt;
        return text->second;
    }
    DownloadResult Download(const std::string& url, DownloadSink& sink) override {
        events_.push_back("download " + url);
        if (auto hook = onDownload.find(url); hook != onDownload.end())
            hook->second();
        busyLeft_ = busyPolls;
        auto answer = answers.find(url);
        if (answer == answers.end())
            return DownloadResult::Failed;
        if (answer->second.result == DownloadResult::Refused)
            return DownloadResult::Refused;
        const std::string& body = answer->second.body;
        const std::optional<std::uint64_t> announced = answer->second.announced.value_or(
            answer->second.result == DownloadResult::Unproven ? std::nullopt : std::optional<std::uint64_t>(body.size()));
        const BodyPlan plan = sink.Expect(announced);
        expected.push_back(announced);
        if (plan.decision != BodyPlan::Decision::Read)
            return plan.decision == BodyPlan::Decision::Decline ? DownloadResult::Declined : DownloadResult::Failed;
        try {
            for (std::size_t at = 0; at < body.size(); at += answer->second.chunkSize) {
                const std::string chunk = body.substr(at, answer->second.chunkSize);
                sink.Write(reinterpret_cast<const std::byte*>(chunk.data()), chunk.size());
                sink.BetweenChunks();
            }
        } catch (const std::exception&) {
            return DownloadResult::Failed;
        }
        return answer->second.result;
    }
    bool StillExecuting() const override { return busyLeft_-- > 0; }

private:
    std::vector<std::string>& events_;
    mutable int busyLeft_ = 0;
};

// Stand-in cryptography, not a secure one: the "digest" is a 64-bit hash of the bytes spread over 32,
// enough to tell bodies apart, and the maker's "signature" of a text is its digest twice.
inline Sha256Digest FakeDigest(std::string_view bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    Sha256Digest digest{};
    for (std::size_t round = 0; round < digest.size(); round += 8) {
        for (char byte : bytes)
            hash = (hash ^ static_cast<std::uint8_t>(byte)) * 1099511628211ull;
        for (std::size_t at = 0; at < 8; ++at)
            digest[round + at] = static_cast<std::uint8_t>(hash >> (8 * at));
    }
    return digest;
}

inline RawP256Signature FakeSignature(std::string_view message) {
    const Sha256Digest digest = FakeDigest(message);
    RawP256Signature signature{};
    std::copy(digest.begin(), digest.end(), signature.begin());
    std::copy(digest.begin(), digest.end(), signature.begin() + 32);
    return signature;
}

inline std::string Hex(const Sha256Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (std::uint8_t byte : digest)
        hex += {kDigits[byte >> 4], kDigits[byte & 15]};
    return hex;
}

// DER as openssl writes it; the fake signatures' integers need no sign byte unless their top bit is set.
inline std::string Der(const RawP256Signature& raw) {
    std::string integers;
    for (std::size_t half = 0; half < 2; ++half) {
        std::string value(reinterpret_cast<const char*>(raw.data()) + 32 * half, 32);
        value.erase(0, std::min(value.find_first_not_of('\0'), std::size_t{31}));
        if (static_cast<std::uint8_t>(value[0]) >= 0x80)
            value.insert(0, 1, '\0');
        integers += {'\x02', static_cast<char>(value.size())};
        integers += value;
    }
    return std::string{'\x30', static_cast<char>(integers.size())} + integers;
}

class FakeSha256 final : public Sha256Hash {
public:
    void Add(const std::byte* data, std::size_t size) override { bytes_.append(reinterpret_cast<const char*>(data), size); }
    Sha256Digest Finish() override { return FakeDigest(bytes_); }

private:
    std::string bytes_;
};

class FakeVerifier final : public ReleaseVerifier {
public:
    bool Verifies(std::string_view message, const RawP256Signature& signature) override {
        return signature == FakeSignature(message);
    }
    std::unique_ptr<Sha256Hash> StartSha256() override { return std::make_unique<FakeSha256>(); }
};

// Which folders this process may write, and what the elevated instance would do.
class FakeElevation final : public Elevation {
public:
    explicit FakeElevation(std::vector<std::string>& events) : events_(events) {}

    std::set<std::string> readOnlyFolders;
    std::optional<int> elevatedExitCode = 0; // nothing: the prompt is declined
    std::vector<std::string> elevatedProgress; // the texts the elevated instance sends
    std::function<void()> whileElevated;       // run while the elevated instance would
    bool failCheck = false;

    bool MayWriteIn(const std::string& folder, std::span<const std::string_view> names) override {
        events_.push_back("may write " + folder);
        if (failCheck)
            throw StepFailure("MayWriteIn", 5);
        return names.size() != 7 || !readOnlyFolders.contains(folder);
    }
    std::uintptr_t ProgressWindow() const override { return 0x1234; }
    std::optional<int> RunElevated(const std::string& arguments,
                                   const std::function<void(const std::string&)>& progress) override {
        events_.push_back("elevate " + arguments);
        for (const std::string& text : elevatedProgress)
            progress(text);
        if (whileElevated)
            whileElevated();
        return elevatedExitCode;
    }

private:
    std::vector<std::string>& events_;
};

class FakeProcess final : public ProcessServices {
public:
    explicit FakeProcess(std::vector<std::string>& events) : events_(events) {}

    std::atomic<int> sleptMilliseconds = 0;
    bool failStart = false;

    bool FermerFenetres(const std::string& wantedTitle) override {
        events_.push_back("FermerFenetres " + wantedTitle);
        return true;
    }
    void Beep() override { events_.push_back("Beep"); }
    void StartProgram(const std::string& commandLine, int showState) override {
        events_.push_back("StartProgram " + commandLine + " " + std::to_string(showState));
        if (failStart)
            throw StepFailure("CreateProcess", 2);
    }
    void EndProgram() override { events_.push_back("EndProgram"); }
    void Sleep(int milliseconds) override { sleptMilliseconds += milliseconds; }

private:
    std::vector<std::string>& events_;
};

} // namespace lumoradex::update_fakes
