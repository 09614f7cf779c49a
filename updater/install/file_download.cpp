#include "updater/install/file_download.h"

#include <algorithm>
#include <utility>

#include "base/failure_rule.h"
#include "base/step_failure.h"
#include "updater/install/background_sha256.h"

namespace lumoradex {
namespace {

constexpr int kPollMilliseconds = 100;
// The busy flag must fall once a transfer is over; the request time-out bounds the wait.
constexpr int kMaxBusyPolls = 600;

// A dropped connection is asked again at once, or nearly: it worked a moment ago. A server that
// keeps failing is given more and more time.
std::chrono::milliseconds PauseAfter(int failuresInARow) {
    using std::chrono::milliseconds;
    return failuresInARow <= 1 ? milliseconds(250) : milliseconds(1000 << (failuresInARow - 2));
}

} // namespace

std::optional<std::chrono::milliseconds> AttemptBudget::AfterFailure(std::uint64_t bytesBrought,
                                                                    std::uint64_t reached) {
    if (reached >= furthest_ + kHeadwayBytes) {
        spent_ = 0;
        failuresInARow_ = 0;
    }
    furthest_ = std::max(furthest_, reached);
    spent_ += bytesBrought < kSomeBytes ? 2 : 1;
    ++failuresInARow_;
    if (spent_ >= kUnits)
        return std::nullopt;
    return PauseAfter(failuresInARow_);
}

ResumedAnswer JudgeResumedAnswer(const AnswerHeaders& answer, const ResumeFrom& asked, std::uint64_t total) {
    if (!answer.partial)
        return ResumedAnswer::WholeBody;
    const bool rest = answer.part && answer.part->first == asked.offset && answer.part->total == total &&
                      answer.part->last + 1 == total && answer.announcedLength == total - asked.offset;
    const bool same = asked.validator.empty() || answer.validator == asked.validator;
    return rest && same ? ResumedAnswer::Continues : ResumedAnswer::Rejected;
}

// What the transfer hands over, for one attempt.
class FileDownload::Sink final : public DownloadSink {
public:
    Sink(FileDownload& download, const std::optional<ResumeFrom>& resume) : download_(download), resume_(resume) {}

    BodyPlan Expect(const AnswerHeaders& answer) override {
        plan_ = download_.Expect(answer, resume_);
        return plan_;
    }
    void Write(const std::byte* data, std::size_t size) override { download_.Write(data, size, plan_, bytes_); }
    void BetweenChunks() override { download_.services_.KeepPainted(); }
    std::uint64_t Bytes() const { return bytes_; }

private:
    FileDownload& download_;
    const std::optional<ResumeFrom>& resume_;
    BodyPlan plan_{BodyPlan::Decision::Fail, std::nullopt}; // nothing is written before the plan
    std::uint64_t bytes_ = 0;
};

FileDownload::FileDownload(const UpdateServices& services, std::string name, std::string url,
                           std::optional<ReleaseFile> proof, bool resumes, WholeBodyPlan plan, NewFiles newFiles)
    : services_(services), name_(std::move(name)), url_(std::move(url)), proof_(std::move(proof)), resumes_(resumes),
      plan_(std::move(plan)), newFiles_(std::move(newFiles)) {}

void FileDownload::GoOnFrom(std::vector<StagedFile> files, std::unique_ptr<Sha256Hash> hash, std::uint64_t held) {
    files_ = std::move(files);
    hash_ = std::move(hash);
    written_ = held;
    total_ = proof_ ? std::optional<std::uint64_t>(proof_->size) : std::nullopt;
    joined_ = held > 0;
}

// An attempt that fails is followed by another while the budget, the time without a byte and the
// pace over all of them allow; it goes on from the bytes held when they may be joined to, else asks
// for the whole body again. Only a failed transfer is tried again: an error status or a body declined on
// its length is the server's answer (unsigned, it leaves the installed copy as it is), except to a
// range it would not serve, which is asked for whole.
DownloadedBody FileDownload::Receive() {
    if (files_.empty() && !StartAgain())
        return Finish(DownloadResult::Failed);
    AttemptBudget budget;
    firstRequest_ = lastByte_ = services_.process.Now();
    for (;;) {
        const std::optional<ResumeFrom> resume = ResumePoint();
        const std::uint64_t before = arrived_;
        const DownloadResult result = Attempt(resume);
        const bool rangeRefused = resume && result == DownloadResult::Refused;
        rejected_ |= rangeRefused;
        if (result == DownloadResult::Complete && joined_ && proof_ && !restartedWhole_) {
            // The listed digest proves a join; one that proves wrong is downloaded whole, once.
            DownloadedBody body = Finish(result);
            if (body.sha256 == proof_->sha256)
                return body;
            restartedWhole_ = true;
            files_ = std::move(body.files);
            if (!StartAgain())
                return Finish(DownloadResult::Failed);
            continue;
        }
        if (result != DownloadResult::Failed && !rangeRefused)
            return Finish(result);
        if (!resumes_ || storeFailed_)
            return Finish(DownloadResult::Failed);
        const std::optional<std::chrono::milliseconds> pause = budget.AfterFailure(arrived_ - before, written_);
        if (!pause || !WithinTime())
            return Finish(DownloadResult::Failed);
        Pause(*pause);
    }
}

DownloadResult FileDownload::Attempt(const std::optional<ResumeFrom>& resume) {
    Sink sink(*this, resume);
    DownloadResult result = DownloadResult::Failed;
    services_.Mark(TracePoint::RequestSent, name_);
    SkipOnFailure([&] {
        result = services_.transfer.Download({url_, resume, lastByte_ + kNoByteAllowance}, sink);
    });
    WaitWhileTransferBusy();
    services_.Mark(TracePoint::LastByte, name_);
    return result;
}

// A whole body is planned by the caller's rule; a part only ever as the rest of the body held. The
// bytes held go only once a whole body comes to replace them, into new files: until then they may
// still be gone on with, by a later run.
BodyPlan FileDownload::Expect(const AnswerHeaders& answer, const std::optional<ResumeFrom>& resume) {
    const BodyPlan fail{BodyPlan::Decision::Fail, std::nullopt};
    if (resume) {
        switch (JudgeResumedAnswer(answer, *resume, *total_)) {
        case ResumedAnswer::Continues:
            joined_ = true;
            return {BodyPlan::Decision::Read, *total_ - written_};
        case ResumedAnswer::Rejected:
            rejected_ = true;
            return fail;
        case ResumedAnswer::WholeBody:
            if (!StartAgain())
                return fail;
            break;
        }
    } else if (answer.partial || (written_ > 0 && !StartAgain())) {
        return fail;
    }
    validator_ = answer.validator;
    total_ = proof_ ? std::optional<std::uint64_t>(proof_->size) : answer.announcedLength;
    return plan_(answer.announcedLength);
}

// The installation folder's copy is written from the same bytes, never read back from the working
// folder's; a body never grows past its plan, whatever the transfer lets through.
void FileDownload::Write(const std::byte* data, std::size_t size, const BodyPlan& plan, std::uint64_t& answerBytes) {
    if (plan.decision != BodyPlan::Decision::Read || (plan.maxBytes && size > *plan.maxBytes - answerBytes))
        throw StepFailure("Body past its plan", 0);
    if (written_ == 0 && size > 0)
        services_.Mark(TracePoint::FirstByte, name_);
    try {
        for (const StagedFile& file : files_)
            file.temporary.Writer().Write(data, size);
        if (hash_)
            hash_->Add(data, size);
    } catch (...) {
        storeFailed_ = true;
        throw;
    }
    written_ += size;
    answerBytes += size;
    arrived_ += size;
    lastByte_ = services_.process.Now();
}

// Only bytes that may be joined to are asked after: a total to reach, and a validator that the rest
// must share, which a signed file's listed digest stands in for.
std::optional<ResumeFrom> FileDownload::ResumePoint() const {
    if (!resumes_ || rejected_ || written_ == 0 || !total_ || written_ >= *total_ || (validator_.empty() && !proof_))
        return std::nullopt;
    return ResumeFrom{written_, validator_};
}

// The files held so far go, with their hash; the body starts again from its first byte.
bool FileDownload::StartAgain() {
    for (StagedFile& file : files_)
        file.temporary.Discard();
    files_.clear();
    hash_.reset();
    written_ = 0;
    total_.reset();
    validator_.clear();
    joined_ = rejected_ = false;
    std::optional<std::vector<StagedFile>> files;
    if (!SkipOnFailure([&] { files = newFiles_(); }) || !files)
        return false;
    files_ = std::move(*files);
    return !proof_ ||
           SkipOnFailure([&] { hash_ = std::make_unique<BackgroundSha256>(services_.releaseVerifier->StartSha256()); });
}

// Every attempt keeps the transfer's own limits; across them, no file goes kNoByteAllowance without
// a byte, nor, once kPaceWindow has passed since its first request, below the pace on average.
bool FileDownload::WithinTime() const {
    const auto now = services_.process.Now();
    if (now - lastByte_ >= kNoByteAllowance)
        return false;
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - firstRequest_);
    return elapsed < kPaceWindow || arrived_ >= kPaceBytesPerSecond * static_cast<std::uint64_t>(elapsed.count());
}

void FileDownload::Pause(std::chrono::milliseconds pause) {
    for (auto left = pause.count(); left > 0; left -= kPollMilliseconds) {
        services_.process.Sleep(static_cast<int>(std::min<long long>(left, kPollMilliseconds)));
        services_.KeepPainted();
    }
}

// The flag is tested before the first sleep, so an idle transfer costs no delay.
void FileDownload::WaitWhileTransferBusy() {
    for (int poll = 0; poll < kMaxBusyPolls && services_.transfer.StillExecuting(); ++poll) {
        services_.process.Sleep(kPollMilliseconds);
        services_.KeepPainted();
    }
}

// A body is whole when the transfer proved it by its length, or when its digest will. The digest is
// finished here, so that no more than one file's bytes wait for the hash.
DownloadedBody FileDownload::Finish(DownloadResult result) {
    DownloadedBody body{result, std::move(files_), static_cast<std::int64_t>(written_), std::nullopt};
    const bool whole = result == DownloadResult::Complete || (result == DownloadResult::Unproven && hash_);
    if (whole && hash_)
        SkipOnFailure([&] { body.sha256 = hash_->Finish(); });
    return body;
}

} // namespace lumoradex
