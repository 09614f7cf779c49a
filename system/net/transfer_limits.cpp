#include "system/net/transfer_limits.h"

namespace lumoradex {
namespace {

// Reads of a slow body may be many and small (a server can send a byte at a time): arrivals less
// than a second after the first of their group are kept as one, at the latest one's time, so that
// the pace's record holds about one entry a second of its window. A window is judged to the second,
// in the body's favour.
constexpr TransferClock::duration kPaceGrain = std::chrono::seconds(1);

std::uint64_t PaceBytes(const TransferLimits& limits) {
    if (!limits.paceWindow)
        return 0;
    return kPaceBytesPerSecond * std::chrono::duration_cast<std::chrono::milliseconds>(*limits.paceWindow).count() /
           1000;
}

std::optional<TransferClock::time_point> Earliest(std::optional<TransferClock::time_point> a,
                                                  std::optional<TransferClock::time_point> b) {
    if (!a || (b && *b < *a))
        return b;
    return a;
}

} // namespace

TransferLimits TransferLimits::Document(std::uint64_t maxBodyBytes, TransferClock::duration wholeRequest) {
    return {.maxBodyBytes = maxBodyBytes,
            .wholeRequest = wholeRequest,
            .keepMovingWindow = std::nullopt,
            .paceWindow = std::nullopt,
            .firstByteBy = std::nullopt};
}

// A big file on a slow but steady link must still arrive, so nothing bounds its size or its whole
// time; a server that drips or stalls must not hold the update for ever, so every window of time
// has to bring a little. A little is not enough: a server that sends just that would take two weeks
// over a 20 MiB file, so every five minutes of the body must also average a pace that any link
// still worth the name keeps.
TransferLimits TransferLimits::FileBody(TransferClock::duration window,
                                        std::optional<TransferClock::time_point> firstByteBy) {
    return {.maxBodyBytes = std::nullopt,
            .wholeRequest = std::nullopt,
            .keepMovingWindow = window,
            .paceWindow = kPaceWindow,
            .firstByteBy = firstByteBy};
}

// Only the latest arrivals that make up the bytes matter: the older ones go, so that the record
// stays small however long the transfer.
void ArrivalRecord::Add(TransferClock::time_point at, std::uint64_t bytes) {
    if (!arrivals_.empty() && at - arrivals_.back().first < grain_) {
        arrivals_.back().last = at;
        arrivals_.back().bytes += bytes;
    } else {
        arrivals_.push_back({at, at, bytes});
    }
    held_ += bytes;
    while (arrivals_.size() > 1 && held_ - arrivals_.front().bytes >= bytes_) {
        held_ -= arrivals_.front().bytes;
        arrivals_.pop_front();
    }
}

std::optional<TransferClock::time_point> ArrivalRecord::LatestHolding() const {
    if (arrivals_.empty() || held_ < bytes_)
        return std::nullopt;
    return arrivals_.front().last;
}

TransferLimiter::TransferLimiter(const TransferLimits& limits, TransferClock::time_point requestStart)
    : limits_(limits), requestStart_(requestStart), moving_(kKeepMovingBytes, TransferClock::duration::zero()),
      paced_(PaceBytes(limits), kPaceGrain) {}

bool TransferLimiter::AcceptsLength(std::uint64_t announced) const {
    return !limits_.maxBodyBytes || announced <= *limits_.maxBodyBytes;
}

void TransferLimiter::LimitBodyTo(std::uint64_t maxBodyBytes) {
    if (!limits_.maxBodyBytes || maxBodyBytes < *limits_.maxBodyBytes)
        limits_.maxBodyBytes = maxBodyBytes;
}

// Reading stops at the limit: one byte more shows that the body goes past it, and no more of it is
// ever read, however much the server sends.
std::size_t TransferLimiter::NextReadSize(std::size_t chunk) const {
    if (!limits_.maxBodyBytes)
        return chunk;
    const std::uint64_t remaining = received_ <= *limits_.maxBodyBytes ? *limits_.maxBodyBytes - received_ : 0;
    return remaining < chunk ? static_cast<std::size_t>(remaining) + 1 : chunk;
}

void TransferLimiter::Record(std::uint64_t bytes, TransferClock::time_point now) {
    if (bytes == 0)
        return;
    received_ += bytes;
    if (!bodyStart_)
        bodyStart_ = now;
    moving_.Add(now, bytes);
    if (limits_.paceWindow)
        paced_.Add(now, bytes);
}

// The times are judged before the new bytes count: the wait that brought them was itself a window
// in which nothing arrived, and may have broken the pace before they came.
bool TransferLimiter::MayContinue(TransferClock::time_point now, std::uint64_t bytesArrived) {
    if (TimeLimitPassed(now))
        return false;
    Record(bytesArrived, now);
    return !limits_.maxBodyBytes || received_ <= *limits_.maxBodyBytes;
}

bool TransferLimiter::TimeLimitPassed(TransferClock::time_point now) const {
    const std::optional<TransferClock::time_point> deadline = Deadline();
    return deadline && now > *deadline;
}

std::optional<TransferClock::time_point> TransferLimiter::Deadline() const {
    std::optional<TransferClock::time_point> deadline = Earliest(KeepMovingDeadline(), PaceDeadline());
    if (limits_.wholeRequest)
        deadline = Earliest(deadline, requestStart_ + *limits_.wholeRequest);
    if (limits_.firstByteBy && !bodyStart_)
        deadline = Earliest(deadline, *limits_.firstByteBy);
    return deadline;
}

// Every window of time that ends now must hold kKeepMovingBytes, so it may start no later than the
// arrival that completed the latest kKeepMovingBytes. Until that many have arrived at all, the first
// window runs from the request.
std::optional<TransferClock::time_point> TransferLimiter::KeepMovingDeadline() const {
    if (!limits_.keepMovingWindow)
        return std::nullopt;
    return moving_.LatestHolding().value_or(requestStart_) + *limits_.keepMovingWindow;
}

// Likewise every pace window that ends now must hold its bytes, but its windows run within the body,
// from its first bytes: the wait for them is the keep-moving window's to bound. A window that has
// not yet run its whole length cannot be judged, as what a part of it brought says nothing of its
// average: a body younger than one window is held to the keep-moving window alone.
std::optional<TransferClock::time_point> TransferLimiter::PaceDeadline() const {
    if (!limits_.paceWindow || !bodyStart_)
        return std::nullopt;
    return paced_.LatestHolding().value_or(*bodyStart_) + *limits_.paceWindow;
}

} // namespace lumoradex
