#include "system/net/transfer_limits.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// --- a file body: no size, no whole time, but it must keep moving and keep its pace ----------------

TEST(TransferLimits, AFileOnASlowButSteadyLinkArrives) {
    EXPECT_EQ(BytesRead(kFile, 768 * kMiB), 768 * kMiB);
    EXPECT_EQ(StopTime(kFile, Steady(4096, 1s, 6 * 3600)), std::nullopt);   // 4 KiB/s for six hours
    EXPECT_EQ(StopTime(kFile, Steady(4096 * 60, 59s, 120)), std::nullopt);  // a minute of it every 59 s
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

// Every five minutes of the body must bring 4 KiB/s on average, 1 228 800 bytes: else a server that
// keeps a file just moving (1 KiB a minute) would take two weeks over 20 MiB. Each rhythm starts
// with the body's first bytes at 1 s; a stop at 301 s is the end of the first window that falls
// short, before the next bytes come.
struct PacedBody {
    const char* rhythm;
    std::vector<Arrival> arrivals;
    std::optional<Duration> stop;
};

const PacedBody kPacedBodies[] = {
    {"exactly the pace, each second", Steady(4096, 1s, 3600), std::nullopt},
    {"a byte a second under it", Steady(4095, 1s, 3600), 301s},
    {"exactly the pace, every 5 s", Steady(5 * 4096, 5s, 720), std::nullopt},
    {"a byte every 5 s under it", Steady(5 * 4096 - 1, 5s, 720), 301s},
    // Reads ten times a second are judged to the second.
    {"small reads above the pace", Steady(410, 100ms, 36000), std::nullopt},
    {"small reads under it", Steady(400, 100ms, 36000), 301s},
    // Bytes that came early do not make up for later windows: each window must hold its own.
    {"a burst, then just moving", Then({{1s, 2 * kMiB}}, Steady(1024, 59s, 20, 60s)), 301s},
    {"three windows' worth, then just moving", Then({{1s, 3 * 300 * 4096}}, Steady(1024, 59s, 20, 60s)), 301s},
    {"a burst, then the pace", Then({{1s, 2 * kMiB}}, Steady(4096, 1s, 3600, 2s)), std::nullopt},
    // The first window may be slow at first if its end makes up for it, but not slow throughout.
    {"a slow start made up in time", Then(Steady(1024, 50s, 5), Steady(kChunk, 1s, 100, 260s)), std::nullopt},
    {"a slow first window", Then(Steady(1024, 50s, 7), Steady(kChunk, 1s, 100, 302s)), 301s},
    // A window that has not run five minutes of the body is not judged: a small file that only
    // kept moving is whole before then; the same rhythm goes no further than five minutes.
    {"a small file, just moving", Steady(1024, 59s, 5), std::nullopt},
    {"a larger file, just moving", Steady(1024, 59s, 10), 301s},
    // The windows run from the body's first bytes, not from the request.
    {"the pace from late first bytes", Steady(4096, 1s, 600, 59s), std::nullopt},
};

TEST(TransferLimits, AFileKeepsItsPaceOverEveryFiveMinutesOfItsBody) {
    for (const PacedBody& body : kPacedBodies)
        EXPECT_EQ(StopTime(kFile, body.arrivals), body.stop) << body.rhythm;
}

// A body read a few bytes at a time for twenty minutes, at its pace: every read counts, yet the
// limiter holds a few hundred arrivals, not the hundreds of thousands of reads.
TEST(TransferLimits, AFileReadInManySmallPiecesIsHeldInASmallRecord) {
    TransferLimiter limiter(kFile, kRequest);
    std::size_t mostHeld = 0;
    for (int i = 1; i <= 20 * 60 * 200; ++i) {
        ASSERT_TRUE(limiter.MayContinue(kRequest + i * 5ms, 25)) << i;
        mostHeld = std::max(mostHeld, limiter.ArrivalsHeld());
    }
    EXPECT_LE(mostHeld, 400u);
}

} // namespace
} // namespace lumoradex
