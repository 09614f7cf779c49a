#include "system/net/transfer_limits.h"

namespace lumoradex {

TransferLimits TransferLimits::Document(std::uint64_t maxBodyBytes, TransferClock::duration wholeRequest) {
    return {.maxBodyBytes = maxBodyBytes, .wholeRequest = wholeRequest, .keepMovingWindow = std::nullopt};
}

// A big file on a slow but steady link must still arrive, so nothing bounds its size or its whole
// time; a server that drips or stalls must not hold the update for ever, so every window of time
// has to bring a little.
TransferLimits TransferLimits::FileBody(TransferClock::duration window) {
    return {.maxBodyBytes = std::nullopt, .wholeRequest = std::nullopt, .keepMovingWindow = window};
}

TransferLimiter::TransferLimiter(const TransferLimits& limits, TransferClock::time_point requestStart)
    : limits_(limits), requestStart_(requestStart) {}

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

// Only the latest arrivals that make up kKeepMovingBytes matter to the pace: the older ones go, so
// that the record stays small however long the transfer.
void TransferLimiter::Record(std::uint64_t bytes, TransferClock::time_point now) {
    if (bytes == 0)
        return;
    received_ += bytes;
    recent_.push_back({now, bytes});
    recentBytes_ += bytes;
    while (recentBytes_ - recent_.front().bytes >= kKeepMovingBytes) {
        recentBytes_ -= recent_.front().bytes;
        recent_.pop_front();
    }
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
    std::optional<TransferClock::time_point> deadline = KeepMovingDeadline();
    if (limits_.wholeRequest && (!deadline || requestStart_ + *limits_.wholeRequest < *deadline))
        deadline = requestStart_ + *limits_.wholeRequest;
    return deadline;
}

// Every window of time that ends now must hold kKeepMovingBytes, so it may start no later than the
// arrival that completed the latest kKeepMovingBytes. Until that many have arrived at all, the first
// window runs from the request.
std::optional<TransferClock::time_point> TransferLimiter::KeepMovingDeadline() const {
    if (!limits_.keepMovingWindow)
        return std::nullopt;
    const TransferClock::time_point windowStart = recentBytes_ >= kKeepMovingBytes ? recent_.front().at : requestStart_;
    return windowStart + *limits_.keepMovingWindow;
}

} // namespace lumoradex
