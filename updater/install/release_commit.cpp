#include "updater/install/release_commit.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "base/failure_rule.h"
#include "base/step_failure.h"

namespace lumoradex {
namespace {

constexpr char kAsidePrefix[] = "Old";
constexpr int kPollMilliseconds = 100;
// The application takes a moment to close after the close request, seconds when it saves its state.
constexpr int kMaxReplaceRetries = 300;

// Where a file's old content is kept during a commit, in its folder.
std::string KeptAsideName(const std::string& target) { return PrefixedSibling(target, kAsidePrefix); }

} // namespace

ReleaseCommit::ReleaseCommit(const UpdateServices& services) : services_(services) {}

// The old content gets its second name before the new one takes the first, so that it survives
// the replacement and the name itself never goes missing. A second name that cannot be removed now
// (its file held by another program, or a running executable) goes at the next run.
bool ReleaseCommit::Commit(std::vector<StagedFile> staged) {
    services_.Mark(TracePoint::CommitStarted);
    std::vector<Replaced> replaced;
    for (StagedFile& file : staged) {
        bool keptAside = false;
        const bool done = SkipOnFailure([&] {
            keptAside = services_.files.KeepAside(file.target, KeptAsideName(file.target));
            Replace(file);
        });
        if (!done) {
            if (keptAside)
                RemoveQuietly(KeptAsideName(file.target));
            RollBack(replaced);
            return false;
        }
        replaced.push_back({&file, keptAside});
        services_.Mark(file.mirrorCopy ? TracePoint::Mirrored : TracePoint::Replaced, file.name);
    }
    for (const Replaced& done : replaced) {
        if (done.keptAside)
            RemoveQuietly(KeptAsideName(done.file->target));
    }
    return true;
}

// A file in use (the application still closing, another program holding it) is tried again every
// 100 ms for up to 30 s: nothing signals that another program has let go of a file.
void ReleaseCommit::Replace(StagedFile& file) {
    RetryWhileInUse(file.target, [&] { return file.temporary.RenameOver(file.target); });
}

// Latest first: each file gets back the content it had, and a file the folder lacked goes again.
void ReleaseCommit::RollBack(const std::vector<Replaced>& replaced) {
    for (auto done = replaced.rbegin(); done != replaced.rend(); ++done)
        PutBack(*done);
}

// The new file, still held, leaves the name through its own handle, so that no program that opened
// it since could keep it there; the old content then takes the name back. A kill between the two
// leaves the name to the next run, which puts back an old content whose name is missing. Should the
// old content not take it (the disk gone), the new file takes it again, and its kept-aside content
// stays for the next run to put back.
void ReleaseCommit::PutBack(const Replaced& done) {
    StagedFile& file = *done.file;
    if (!SkipOnFailure([&] { RetryWhileInUse(file.temporary.Path(), [&] { return file.temporary.RenameBack(); }); }))
        return;
    if (!done.keptAside)
        return; // the folder lacked the file: it goes with its temporary
    const std::string aside = KeptAsideName(file.target);
    if (!SkipOnFailure(
            [&] { RetryWhileInUse(file.target, [&] { return services_.files.ReplaceWith(file.target, aside); }); }))
        SkipOnFailure([&] { file.temporary.RenameOver(file.target); });
}

template <class Rename> void ReleaseCommit::RetryWhileInUse(const std::string& target, Rename rename) {
    for (int retry = 0; rename() == ReplaceResult::TargetInUse; ++retry) {
        if (retry == kMaxReplaceRetries)
            throw StepFailure("Replacement of " + target, 0);
        services_.process.Sleep(kPollMilliseconds);
        services_.KeepPainted();
    }
}

void ReleaseCommit::RemoveQuietly(const std::string& path) {
    SkipOnFailure([&] { services_.files.Delete(path); });
}

namespace {

constexpr std::size_t kCompareChunk = 64 * 1024;

bool SameContent(InstallationFiles& files, const std::string& first, const std::string& second) {
    const std::unique_ptr<FileReader> one = files.OpenToRead(first);
    const std::unique_ptr<FileReader> other = files.OpenToRead(second);
    if (one->Size() != other->Size())
        return false;
    std::vector<std::byte> left(kCompareChunk), right(kCompareChunk);
    for (std::uint64_t offset = 0; offset < one->Size();) {
        const std::size_t count = one->ReadAt(offset, left.data(), left.size());
        if (count == 0 || other->ReadAt(offset, right.data(), count) != count ||
            !std::equal(left.begin(), left.begin() + static_cast<std::ptrdiff_t>(count), right.begin()))
            return false;
        offset += count;
    }
    return true;
}

} // namespace

// A kill during a commit leaves new files up to some point of the folder's order and old ones after
// it, each replaced file's old content under its kept-aside name. The executable is replaced last:
// once its name and its kept-aside name hold different contents, every other file is new and the
// commit is finished forward, by removing what was kept aside; before that, every file goes back to
// what it kept aside. The test is by content, not by identity, since a folder without hard links
// keeps a copy aside; a file kept aside whose content did not change needs no put-back either way.
// A name is never left missing: a kept-aside content whose name has no file is put back first.
bool FinishInterruptedCommit(const std::vector<std::string>& targets, Environment& environment,
                             InstallationFiles& files) {
    std::vector<std::string> keptAside;
    const bool read = SkipOnFailure([&] {
        for (const std::string& target : targets) {
            if (environment.OrdinaryFileExists(KeptAsideName(target)))
                keptAside.push_back(target);
        }
    });
    if (!read)
        return false;
    if (keptAside.empty())
        return true;
    const std::string& executable = targets.back();
    bool forward = false;
    if (!SkipOnFailure([&] {
            forward = keptAside.back() == executable && environment.OrdinaryFileExists(executable) &&
                      !SameContent(files, executable, KeptAsideName(executable));
        }))
        return false;
    bool finished = true;
    for (auto target = keptAside.rbegin(); target != keptAside.rend(); ++target) {
        const std::string aside = KeptAsideName(*target);
        bool done = false;
        SkipOnFailure([&] {
            if (environment.OrdinaryFileExists(*target) && (forward || SameContent(files, *target, aside))) {
                files.Delete(aside);
                done = true;
            } else {
                done = files.ReplaceWith(*target, aside) == ReplaceResult::Replaced;
            }
        });
        finished &= done;
    }
    return finished;
}

} // namespace lumoradex
