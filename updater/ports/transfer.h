#pragma once
// The transfer service of the window (Inet1): synchronous fetches of complete addresses, and a busy
// flag. No answer can hold a fetch beyond its time limits nor grow the memory it takes beyond its
// size limit. Implemented over WinINet in system/net/transfer_win.cpp; unit tests use fakes.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace lumoradex {

// The pace a file body must keep: on average over every window of kPaceWindow, once it flows.
inline constexpr std::uint64_t kPaceBytesPerSecond = 4 * 1024;
inline constexpr std::chrono::minutes kPaceWindow{5};

// What a sink makes of a body before any byte of it arrives.
struct BodyPlan {
    enum class Decision {
        Read,    // read it, up to maxBytes
        Decline, // leave it unread: the answer is no file to install, yet no failure
        Fail,    // leave it unread and fail the download
    };
    Decision decision = Decision::Read;
    std::optional<std::uint64_t> maxBytes; // the download fails at the first byte past it
};

// Where a download goes on from: the bytes already held, and what the earlier answer's body was known
// by (its validator), which the rest must share with them; an empty validator is not sent.
struct ResumeFrom {
    std::uint64_t offset = 0;
    std::string validator;
};

struct DownloadRequest {
    std::string url;
    std::optional<ResumeFrom> resume; // asks for the body from resume->offset on
    // Fails the download unless the first byte of its body has come by then; every other limit holds.
    std::optional<std::chrono::steady_clock::time_point> firstByteBy;
};

// The bytes of the body that a 206 answer carries, as its Content-Range states them.
struct BodyPart {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::optional<std::uint64_t> total; // unknown to the server ("*")
};

// What an answer's headers say of its body.
struct AnswerHeaders {
    std::optional<std::uint64_t> announcedLength; // Content-Length: this answer's bytes
    bool partial = false;                         // 206: part of the body only
    std::optional<BodyPart> part;                 // a 206's one range of bytes, when it states one
    std::string validator; // a strong entity tag, else the last modification date; empty when neither
};

// Receives a download's body as it arrives. Write throws when the bytes cannot be stored, which
// fails the download.
class DownloadSink {
public:
    virtual ~DownloadSink() = default;
    // Once a 2xx answer's headers have come.
    virtual BodyPlan Expect(const AnswerHeaders& answer) = 0;
    virtual void Write(const std::byte* data, std::size_t size) = 0;
    // Called between received chunks, so that the window keeps painting.
    virtual void BetweenChunks() = 0;
};

enum class DownloadResult {
    Complete, // a 2xx answer whose whole body, as long as the server stated, reached the sink
    // A 2xx answer whose body ended with no stated length to prove it whole (chunked, or ended by the
    // connection's close): a connection dropped mid-body ends it the same way.
    Unproven,
    Refused,  // the server answered with a status other than 2xx: its body is an error page
    Declined, // the sink declined the body on its announced length: nothing of it was read
    Failed,   // no usable answer: unreachable, time-out, reset, or a body cut short
};

class Transfer {
public:
    virtual ~Transfer() = default;
    // The body of a 2xx answer as text, whatever its framing; nothing when the fetch fails, the
    // status is not 2xx, the body is longer than limit bytes or the whole request takes longer than
    // the request time-out.
    virtual std::optional<std::string> FetchText(const std::string& url, std::size_t limit) = 0;
    // Failed also when the body stops moving (less than 1 KiB in any window of the request time-out),
    // goes past the length the server announced or past the sink's plan. Asked to resume, it sends a
    // range from the offset, with the validator as its condition: the answer may still be the whole
    // body (200), which the sink tells from the headers.
    virtual DownloadResult Download(const DownloadRequest& request, DownloadSink& sink) = 0;
    // True while a transfer is in progress; false once it is over.
    virtual bool StillExecuting() const = 0;
};

} // namespace lumoradex
