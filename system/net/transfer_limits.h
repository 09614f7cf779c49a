#pragma once
// The limits that no server answer can stretch, judged for one transfer from the bytes that arrive
// and when: the size of a body, the time of a whole request, and the pace of a download.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

namespace lumoradex {

using TransferClock = std::chrono::steady_clock;

// A download must bring at least this many bytes in every window (see TransferLimits::FileBody).
inline constexpr std::uint64_t kKeepMovingBytes = 1024;

struct TransferLimits {
    std::optional<std::uint64_t> maxBodyBytes;               // a longer body fails
    std::optional<TransferClock::duration> wholeRequest;     // from the request to the last byte
    std::optional<TransferClock::duration> keepMovingWindow; // fewer than kKeepMovingBytes in one fails

    // A small document read whole into memory: bounded in size and in time.
    static TransferLimits Document(std::uint64_t maxBodyBytes, TransferClock::duration wholeRequest);
    // A file body of any size and duration, as long as it keeps moving.
    static TransferLimits FileBody(TransferClock::duration window);
};

class TransferLimiter {
public:
    TransferLimiter(const TransferLimits& limits, TransferClock::time_point requestStart);

    // Whether a body of the length the server announces may be read at all.
    bool AcceptsLength(std::uint64_t announced) const;
    // Lowers the size limit: the announced length, or what the receiver takes.
    void LimitBodyTo(std::uint64_t maxBodyBytes);
    // The most the next read may ask for, at most chunk: one byte past the size limit at most.
    std::size_t NextReadSize(std::size_t chunk) const;
    // At the end of each wait, with the bytes of the body it brought (none for the answer's headers
    // or the end of the body): false when a limit was passed, and the transfer must stop and fail.
    bool MayContinue(TransferClock::time_point now, std::uint64_t bytesArrived = 0);
    // When the wait under way must end at the latest, headers included: the first of the whole
    // request's end and the end of the window that must still bring bytes. Nothing: no time limit.
    std::optional<TransferClock::time_point> Deadline() const;

private:
    struct Arrival {
        TransferClock::time_point at;
        std::uint64_t bytes;
    };

    bool TimeLimitPassed(TransferClock::time_point now) const;
    std::optional<TransferClock::time_point> KeepMovingDeadline() const;
    void Record(std::uint64_t bytes, TransferClock::time_point now);

    TransferLimits limits_;
    TransferClock::time_point requestStart_;
    std::uint64_t received_ = 0;
    std::deque<Arrival> recent_; // the fewest latest arrivals that hold kKeepMovingBytes
    std::uint64_t recentBytes_ = 0;
};

} // namespace lumoradex
