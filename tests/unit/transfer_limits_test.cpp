#include "system/net/transfer_limits.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace lumoradex {
namespace {

using namespace std::chrono_literals;
using Duration = TransferClock::duration;

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::size_t kChunk = 64 * 1024;
const TransferClock::time_point kRequest{};

const TransferLimits kVersionPage = TransferLimits::Document(kMiB, 60s);
const TransferLimits kFile = TransferLimits::FileBody(60s);

// One wait of a transfer as a server paces it: it ends this long after the request, with so many
// bytes of the body.
struct Arrival {
    Duration at;
    std::uint64_t bytes;
};

// count arrivals of the same size, the first at from, then one every interval.
std::vector<Arrival> Steady(std::uint64_t bytes, Duration interval, int count, Duration from = 1s) {
    std::vector<Arrival> arrivals;
    for (int i = 0; i < count; ++i)
        arrivals.push_back({from + i * interval, bytes});
    return arrivals;
}

std::vector<Arrival> Then(std::vector<Arrival> first, const std::vector<Arrival>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// The transfer's waits over a server answering with these arrivals after its headers, each wait
// ending at the limiter's deadline if the arrival comes later: when it had to stop (since the
// request), nothing when the whole body came within the limits.
std::optional<Duration> StopTime(const TransferLimits& limits, const std::vector<Arrival>& arrivals,
                                 Duration headersAt = 0s) {
    TransferLimiter limiter(limits, kRequest);
    const auto waitEnds = [&](Duration at, std::uint64_t bytes) -> std::optional<Duration> {
        if (const std::optional<TransferClock::time_point> deadline = limiter.Deadline();
            deadline && kRequest + at > *deadline)
            return *deadline - kRequest;
        if (!limiter.MayContinue(kRequest + at, bytes))
            return at;
        return std::nullopt;
    };
    if (const std::optional<Duration> stop = waitEnds(headersAt, 0))
        return stop;
    for (const Arrival& arrival : arrivals)
        if (const std::optional<Duration> stop = waitEnds(arrival.at, arrival.bytes))
            return stop;
    return std::nullopt;
}

// Reads a body of the given size (none: endless) at once, each read as large as the limiter lets
// it: the bytes read when the transfer stopped or the body ended.
std::uint64_t BytesRead(const TransferLimits& limits, std::optional<std::uint64_t> bodySize) {
    TransferLimiter limiter(limits, kRequest);
    std::uint64_t read = 0;
    for (;;) {
        std::uint64_t count = limiter.NextReadSize(kChunk);
        if (bodySize)
            count = std::min(count, *bodySize - read);
        read += count;
        if (!limiter.MayContinue(kRequest, count) || count == 0)
            return read;
    }
}

// --- a document read into memory: the version page -------------------------------------------------

TEST(TransferLimits, APageInTimeIsReadWhole) {
    EXPECT_EQ(StopTime(kVersionPage, {{0s, 106}}), std::nullopt);
    EXPECT_EQ(StopTime(kVersionPage, Steady(10, 5s, 11)), std::nullopt);         // slow, done at 51 s
    EXPECT_EQ(StopTime(kVersionPage, {{60s, 106}}, 59s), std::nullopt);          // late, the last byte at 60 s
    EXPECT_EQ(StopTime(kVersionPage, Steady(kChunk, 0s, 16, 0s)), std::nullopt); // 1 MiB exactly
}

TEST(TransferLimits, APageStopsOnceItsWholeTimeHasPassed) {
    // No wait is long, yet a page dripped one byte every 20 s would take 35 minutes. A wait under way
    // ends at the limit, not when its bytes come.
    EXPECT_EQ(StopTime(kVersionPage, Steady(1, 20s, 106)), 60s);
    EXPECT_EQ(StopTime(kVersionPage, {{61s, 106}}), 60s);
    EXPECT_EQ(StopTime(kVersionPage, {}, 600s), 60s); // headers dripped past the limit
}

TEST(TransferLimits, APageStopsOneBytePastItsSize) {
    EXPECT_TRUE(TransferLimiter(kVersionPage, kRequest).AcceptsLength(kMiB));
    EXPECT_FALSE(TransferLimiter(kVersionPage, kRequest).AcceptsLength(kMiB + 1));
    EXPECT_EQ(BytesRead(kVersionPage, kMiB), kMiB);
    // However long the body, reading stops at the byte that shows it is too long.
    EXPECT_EQ(BytesRead(kVersionPage, kMiB + 1), kMiB + 1);
    EXPECT_EQ(BytesRead(kVersionPage, std::nullopt), kMiB + 1);
    EXPECT_EQ(StopTime(kVersionPage, {{1s, kMiB}, {2s, 1}}), 2s);
}

// --- a file body: no size, no whole time, but it must keep moving -----------------------------------

TEST(TransferLimits, AFileOnASlowButSteadyLinkArrives) {
    EXPECT_EQ(BytesRead(kFile, 768 * kMiB), 768 * kMiB);
    EXPECT_EQ(StopTime(kFile, Steady(20, 1s, 6 * 3600)), std::nullopt);     // 20 bytes/s for six hours
    EXPECT_EQ(StopTime(kFile, Steady(1024, 59s, 120)), std::nullopt);       // 1 KiB a minute, in bursts
    EXPECT_EQ(StopTime(kFile, Steady(kChunk, 1s, 100, 59s)), std::nullopt); // a slow start
}

TEST(TransferLimits, AFileThatCrawlsStopsWithinAWindow) {
    EXPECT_EQ(StopTime(kFile, Steady(1, 20s, 1000)), 60s);
    EXPECT_EQ(StopTime(kFile, Steady(1023, 60s, 10)), 60s);
    EXPECT_EQ(StopTime(kFile, {}, 600s), 60s); // headers dripped for a whole window
    // Plenty, then a pause longer than the window: it stops a window after the last bytes.
    EXPECT_EQ(StopTime(kFile, Then(Steady(kChunk, 1s, 100), {{200s, kChunk}})), 160s);
    // The window from the first 1023 bytes holds only those when it ends.
    EXPECT_EQ(StopTime(kFile, Steady(1023, 59s, 10)), 61s);
}

// Every window counts, not only the windows that follow one another from the request: 1 KiB in
// each of the first two minutes, but a minute between them with a single byte.
TEST(TransferLimits, AnyWindowOfTheTransferCounts) {
    EXPECT_EQ(StopTime(kFile, {{5s, 1024}, {60s, 1}, {115s, 1024}}), 65s);
    EXPECT_EQ(StopTime(kFile, {{5s, 1024}, {60s, 1}, {64s, 1023}, {115s, 1024}}), std::nullopt);
}

} // namespace
} // namespace lumoradex
