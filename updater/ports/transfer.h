#pragma once
// The transfer service of the window (Inet1): synchronous fetches of complete addresses, and a busy
// flag. No answer can hold a fetch beyond its time limits nor grow the memory it takes beyond its
// size limit. Implemented over WinINet in system/net/transfer_win.cpp; unit tests use fakes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace lumoradex {

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

// Receives a download's body as it arrives. Write throws when the bytes cannot be stored, which
// fails the download.
class DownloadSink {
public:
    virtual ~DownloadSink() = default;
    // Once a 2xx answer's headers have come: the length the server announced, if any.
    virtual BodyPlan Expect(std::optional<std::uint64_t> announcedLength) = 0;
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
    // goes past the length the server announced or past the sink's plan.
    virtual DownloadResult Download(const std::string& url, DownloadSink& sink) = 0;
    // True while a transfer is in progress; false once it is over.
    virtual bool StillExecuting() const = 0;
};

} // namespace lumoradex
