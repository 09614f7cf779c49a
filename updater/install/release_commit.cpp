#include "updater/install/release_commit.h"

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
    for (auto done = replaced.rbegin(); done != replaced.rend(); ++done) {
        const std::string& target = done->file->target;
        if (done->keptAside) {
            const std::string aside = KeptAsideName(target);
            SkipOnFailure([&] { RetryWhileInUse(target, [&] { return services_.files.ReplaceWith(target, aside); }); });
        } else {
            RemoveQuietly(target);
        }
    }
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

// An old content kept aside is only ever removed while its name holds a file: the one thing that
// could leave a name missing, a failure in the middle of a rollback, is mended by putting it back.
void ClearInterruptedCommit(const std::vector<std::string>& targets, Environment& environment,
                            InstallationFiles& files) {
    for (const std::string& target : targets) {
        const std::string aside = KeptAsideName(target);
        SkipOnFailure([&] {
            if (!environment.OrdinaryFileExists(aside))
                return;
            if (environment.OrdinaryFileExists(target))
                files.Delete(aside);
            else
                files.ReplaceWith(target, aside);
        });
    }
}

} // namespace lumoradex
