#pragma once
// One file's body received into its temporary files. A connection that drops costs only what it
// dropped: the body is asked again from where it stopped, and the bytes of two answers are joined
// only when the second proves to be the rest of the first one's body. The attempts are bounded in
// number and in time whatever the server does. Platform-free.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "updater/install/staged_file.h"
#include "updater/install/update_services.h"
#include "updater/ports/release_verifier.h"
#include "updater/ports/transfer.h"
#include "updater/release/release_list.h"

namespace lumoradex {

// The failed attempts a file may have in a row: four, each that brought next to nothing (not even
// kSomeBytes) counting as two; an attempt that took the bytes held kHeadwayBytes or more past the
// furthest they had reached starts the count again (bytes brought again after a restart are no
// headway). The pause before the next attempt grows with the count.
class AttemptBudget {
public:
    static constexpr int kUnits = 4;
    static constexpr std::uint64_t kSomeBytes = 1024;
    static constexpr std::uint64_t kHeadwayBytes = 64 * 1024;

    // After a failed attempt that brought bytesBrought, the bytes held then reaching reached: the
    // pause before the next one, or nothing when the file has had its attempts.
    std::optional<std::chrono::milliseconds> AfterFailure(std::uint64_t bytesBrought, std::uint64_t reached);

private:
    int spent_ = 0;
    int failuresInARow_ = 0;
    std::uint64_t furthest_ = 0;
};

// A file whose attempts bring no byte of its body for this long fails, however many it has left.
inline constexpr std::chrono::seconds kNoByteAllowance{100};

enum class ResumedAnswer {
    Continues, // the rest of the body asked for: written on after the bytes held
    WholeBody, // the whole body again (200): the file starts again with it
    Rejected,  // anything else: never joined; the file starts again with a new request
};

// The answer to a request resumed from asked.offset of a body of total bytes: only a 206 whose one
// range runs from that offset to the end of the same total, framed by its length and known by the
// same validator (when one was asked for), is the rest of that body.
ResumedAnswer JudgeResumedAnswer(const AnswerHeaders& answer, const ResumeFrom& asked, std::uint64_t total);

// What a file's download came to: its files, written, held and not yet flushed.
struct DownloadedBody {
    DownloadResult result = DownloadResult::Failed;
    std::vector<StagedFile> files;
    std::int64_t size = 0;
    std::optional<Sha256Digest> sha256; // of a body that arrived whole, when it is to be proven
};

class FileDownload {
public:
    // The plan for a whole body, from the length its answer announced.
    using WholeBodyPlan = std::function<BodyPlan(std::optional<std::uint64_t> announced)>;
    // New, empty temporary files for the body; nothing when they cannot be made.
    using NewFiles = std::function<std::optional<std::vector<StagedFile>>()>;

    // proof: the size and digest that will prove the body (signed), which is then hashed as it comes;
    // resumes: whether a failed attempt is followed by others.
    FileDownload(const UpdateServices& services, std::string name, std::string url, std::optional<ReleaseFile> proof,
                 bool resumes, WholeBodyPlan plan, NewFiles newFiles);
    FileDownload(const FileDownload&) = delete;
    FileDownload& operator=(const FileDownload&) = delete;

    // Starts from the first bytes of the body already in the files, hashed by hash: a signed file that
    // an earlier run kept.
    void GoOnFrom(std::vector<StagedFile> files, std::unique_ptr<Sha256Hash> hash, std::uint64_t held);
    DownloadedBody Receive();

private:
    class Sink;
    friend class Sink;

    DownloadResult Attempt(const std::optional<ResumeFrom>& resume);
    BodyPlan Expect(const AnswerHeaders& answer, const std::optional<ResumeFrom>& resume);
    void Write(const std::byte* data, std::size_t size, const BodyPlan& plan, std::uint64_t& answerBytes);
    std::optional<ResumeFrom> ResumePoint() const;
    bool StartAgain();
    bool WithinTime() const;
    void Pause(std::chrono::milliseconds pause);
    void WaitWhileTransferBusy();
    DownloadedBody Finish(DownloadResult result);

    const UpdateServices& services_;
    std::string name_;
    std::string url_;
    std::optional<ReleaseFile> proof_;
    bool resumes_;
    WholeBodyPlan plan_;
    NewFiles newFiles_;

    std::vector<StagedFile> files_;
    std::unique_ptr<Sha256Hash> hash_;
    std::uint64_t written_ = 0;
    std::optional<std::uint64_t> total_; // the whole body's length, once known
    std::string validator_;               // of the answer the bytes held came from
    bool joined_ = false;                 // of more than one answer, or of a kept file
    bool rejected_ = false;               // the bytes held may not be joined to any more
    bool storeFailed_ = false;            // the files or the hash could not take the bytes
    bool restartedWhole_ = false;         // a join that proved wrong gets one whole download more
    std::chrono::steady_clock::time_point firstRequest_{};
    std::chrono::steady_clock::time_point lastByte_{};
    std::uint64_t arrived_ = 0; // over every attempt, for the pace across them
};

} // namespace lumoradex
