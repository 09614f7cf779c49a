#pragma once
// The limits that no server answer can stretch, judged for one transfer from the bytes that arrive
// and when: the size of a body, the time of a whole request, and the pace of a download.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

#include "updater/ports/transfer.h"

namespace lumoradex {

using TransferClock = std::chrono::steady_clock;

// A download must bring at least this many bytes in every window (see TransferLimits::FileBody).
inline constexpr std::uint64_t kKeepMovingBytes = 1024;
// And, once its body flows, average at least kPaceBytesPerSecond over every window of kPaceWindow
// (updater/ports/transfer.h).

struct TransferLimits {
    std::optional<std::uint64_t> maxBodyBytes;               // a longer body fails
    std::optional<TransferClock::duration> wholeRequest;     // from the request to the last byte
    std::optional<TransferClock::duration> keepMovingWindow; // fewer than kKeepMovingBytes in one fails
    std::optional<TransferClock::duration> paceWindow;       // under kPaceBytesPerSecond on average over one fails
    std::optional<TransferClock::time_point> firstByteBy;    // a body with no byte by then fails

    // A small document read whole into memory: bounded in size and in time.
    static TransferLimits Document(std::uint64_t maxBodyBytes, TransferClock::duration wholeRequest);
    // A file body of any size and duration, as long as it keeps moving and keeps the pace.
    static TransferLimits FileBody(TransferClock::duration window,
                                   std::optional<TransferClock::time_point> firstByteBy = std::nullopt);
};

// The fewest latest arrivals that hold a number of bytes, those less than a grain apart kept as one.
class ArrivalRecord {
public:
    ArrivalRecord(std::uint64_t bytes, TransferClock::duration grain) : bytes_(bytes), grain_(grain) {}

    void Add(TransferClock::time_point at, std::uint64_t bytes);
    // The arrival that completed the latest bytes; nothing until that many have arrived.
    std::optional<TransferClock::time_point> LatestHolding() const;
    std::size_t Size() const { return arrivals_.size(); }

private:
    struct Arrivals {
        TransferClock::time_point first;
        TransferClock::time_point last;
        std::uint64_t bytes;
    };

    std::uint64_t bytes_;
    TransferClock::duration grain_;
    std::deque<Arrivals> arrivals_;
    std::uint64_t held_ = 0;
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
    // request's end, the end of the window that must still bring bytes, and the moment the body
    // would fall below its pace. Nothing: no time limit.
    std::optional<TransferClock::time_point> Deadline() const;
    // How many arrivals the limiter holds: bounded, however long the transfer.
    std::size_t ArrivalsHeld() const { return moving_.Size() + paced_.Size(); }

private:
    bool TimeLimitPassed(TransferClock::time_point now) const;
    std::optional<TransferClock::time_point> KeepMovingDeadline() const;
    std::optional<TransferClock::time_point> PaceDeadline() const;
    void Record(std::uint64_t bytes, TransferClock::time_point now);

    TransferLimits limits_;
    TransferClock::time_point requestStart_;
    std::uint64_t received_ = 0;
    std::optional<TransferClock::time_point> bodyStart_; // the first bytes of the body
    ArrivalRecord moving_;                               // the latest kKeepMovingBytes
    ArrivalRecord paced_;                                // the latest bytes a pace window must hold
};

} // namespace lumoradex
