// The program's transfer service (WinINet, run by the probe fixture under Wine) against the loopback
// server: bodies as text and bytes, error statuses, fresh requests, every way a transfer fails, and
// the limits of size and time that no answer can stretch (here with a request time-out of 2 s).

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <random>
#include <utility>

#include "tests/e2e/e2e.h"

namespace lumoradex::e2e {
namespace {

constexpr char kShortTimeout[] = "2000";
constexpr char kRequestTimeout[] = "60000";
constexpr char kPageLimit[] = "1048576";

std::string Fnv(const std::string& bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char byte : bytes)
        hash = (hash ^ byte) * 1099511628211ull;
    char text[24];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::string RandomBytes(std::size_t size) {
    std::mt19937 generator(42);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator() & 0xFF);
    return bytes;
}

class Transfer : public ::testing::Test {
protected:
    // Runs the probe to its end and returns its records of the kind.
    std::vector<Record> Probe(std::vector<std::string> arguments, const char* kind) {
        WineProgram& probe =
            scenario.Start(FixturePath("probe/probe.exe").string(), std::move(arguments), kScratchFolder);
        const std::optional<int> exitCode = probe.WaitForExit(40s);
        EXPECT_EQ(exitCode, 0) << probe.Output();
        return RecordsOfKind(ParseRecords(probe.Output()), kind);
    }
    std::vector<Record> Fetch(std::vector<std::string> urls, const char* timeout = kRequestTimeout,
                              const char* limit = kPageLimit) {
        urls.insert(urls.begin(), {"fetch", timeout, limit});
        return Probe(urls, "fetch");
    }
    // maxBytes: the most the probe's sink takes, as the update run's plan bounds a file.
    // From: a resumed download, with its validator.
    Record Download(const std::string& url, const char* timeout = kRequestTimeout, const char* maxBytes = nullptr,
                    std::optional<std::pair<std::string, std::string>> from = std::nullopt) {
        std::vector<std::string> arguments{"download", timeout, url};
        if (maxBytes || from)
            arguments.emplace_back(maxBytes ? maxBytes : "18446744073709551615");
        if (from) {
            arguments.push_back(from->first);
            arguments.push_back(from->second);
        }
        std::vector<Record> records = Probe(arguments, "download");
        EXPECT_EQ(records.size(), 1u);
        return records.empty() ? Record{} : records.front();
    }
    std::string Url(const std::string& path) { return scenario.Server().BaseUrl() + path; }

    Scenario scenario;
};

TEST_F(Transfer, FetchReturnsTheWholeBodyAsText) {
    const std::string page = "<html><body>Lumoradex V4.2.1\ttab\r\nligne</body></html>";
    scenario.Server().Set("/version.htm", Reply::Page(page));
    const std::vector<Record> fetches = Fetch({Url("/version.htm")});
    ASSERT_EQ(fetches.size(), 1u);
    EXPECT_TRUE(fetches[0].Flag("ok"));
    EXPECT_EQ(fetches[0].Get("body"), page);
    EXPECT_FALSE(fetches[0].Flag("busy_after"));
}

TEST_F(Transfer, DownloadStreamsTheBytesInChunksWhileBusy) {
    const std::string bytes = RandomBytes(3 * 1024 * 1024 + 17);
    scenario.Server().SetFile("Velmor.exe", bytes);
    const Record download = Download(Url("/majv4/Velmor.exe"));
    EXPECT_EQ(download.Get("result"), "complete");
    EXPECT_EQ(download.Number("size"), static_cast<long long>(bytes.size()));
    EXPECT_EQ(download.Get("fnv"), Fnv(bytes));
    EXPECT_GT(download.Number("chunks"), 1);
    EXPECT_TRUE(download.Flag("busy_in_chunk"));
    EXPECT_FALSE(download.Flag("busy_after"));
}

// A resumed download asks for the rest under the first answer's validator, and reads the 206 it gets;
// a validator the body no longer has gets the whole body.
TEST_F(Transfer, AResumedDownloadGetsTheRestOfTheSameBodyOnly) {
    const std::string bytes = RandomBytes(100000);
    scenario.Server().SetFile("socle.mdb", bytes);
    const Record whole = Download(Url("/majv4/socle.mdb"));
    const std::string validator = whole.Get("validator");
    ASSERT_TRUE(validator.starts_with("\"")) << validator;

    const Record rest = Download(Url("/majv4/socle.mdb"), kRequestTimeout, nullptr, std::pair{"40000", validator});
    EXPECT_EQ(rest.Get("result"), "complete");
    EXPECT_TRUE(rest.Flag("partial"));
    EXPECT_EQ(rest.Get("part"), "40000-99999/100000");
    EXPECT_EQ(rest.Number("announced"), 60000);
    EXPECT_EQ(rest.Get("fnv"), Fnv(bytes.substr(40000)));
    EXPECT_EQ(rest.Get("validator"), validator);

    const Record changed = Download(Url("/majv4/socle.mdb"), kRequestTimeout, nullptr, std::pair{"40000", "\"other\""});
    EXPECT_FALSE(changed.Flag("partial"));
    EXPECT_EQ(changed.Get("fnv"), Fnv(bytes));
}

TEST_F(Transfer, ErrorStatusesAreNotBodies) {
    scenario.Server().Set("/version.htm", Reply::Status(404, "<p>Lumoradex V4.2.1</p>"));
    scenario.Server().Set("/majv4/Velmor.exe", Reply::Status(500));
    const std::vector<Record> fetches = Fetch({Url("/version.htm"), Url("/majv4/Velmor.exe")});
    ASSERT_EQ(fetches.size(), 2u);
    EXPECT_FALSE(fetches[0].Flag("ok"));
    EXPECT_FALSE(fetches[1].Flag("ok"));
    EXPECT_EQ(Download(Url("/version.htm")).Get("result"), "refused");
    EXPECT_EQ(Download(Url("/majv4/Velmor.exe")).Get("result"), "refused");
}

TEST_F(Transfer, EveryFetchAsksTheServerAgain) {
    scenario.Server().SetSequence("/version.htm", {Reply::Page("premier"), Reply::Page("second")});
    const std::vector<Record> fetches = Fetch({Url("/version.htm"), Url("/version.htm")});
    ASSERT_EQ(fetches.size(), 2u);
    EXPECT_EQ(fetches[0].Get("body"), "premier");
    EXPECT_EQ(fetches[1].Get("body"), "second");
    EXPECT_EQ(scenario.Server().RequestCount("/version.htm"), 2);
}

// With the full request time-out, a refused connection must fail long before it would matter.
TEST_F(Transfer, RefusedConnectionFailsAtOnce) {
    const std::vector<Record> fetches = Fetch({"http://127.0.0.1:1/version.htm"});
    ASSERT_EQ(fetches.size(), 1u);
    EXPECT_FALSE(fetches[0].Flag("ok"));
    EXPECT_FALSE(fetches[0].Flag("busy_after"));
}

TEST_F(Transfer, AStalledServerFailsOnceTheTimeOutPasses) {
    scenario.Server().Set("/version.htm", Reply::Stall());
    const std::vector<Record> fetches = Fetch({Url("/version.htm")}, kShortTimeout);
    ASSERT_EQ(fetches.size(), 1u);
    EXPECT_FALSE(fetches[0].Flag("ok"));
    EXPECT_FALSE(fetches[0].Flag("busy_after"));
    EXPECT_EQ(Download(Url("/version.htm"), kShortTimeout).Get("result"), "failed");
}

TEST_F(Transfer, ABodyShorterThanAnnouncedFails) {
    const std::string bytes = RandomBytes(200000);
    scenario.Server().Set("/majv4/Velmor.exe", Reply::CutShort(bytes, 70000));
    scenario.Server().Set("/majv4/socle.mdb", Reply::ResetMidBody(bytes, 70000));
    EXPECT_EQ(Download(Url("/majv4/Velmor.exe")).Get("result"), "failed");
    EXPECT_EQ(Download(Url("/majv4/socle.mdb")).Get("result"), "failed");
    const std::vector<Record> fetches = Fetch({Url("/majv4/Velmor.exe")});
    ASSERT_EQ(fetches.size(), 1u);
    EXPECT_FALSE(fetches[0].Flag("ok"));
}

// Whole or cut before its last chunk, a chunked body ends the same way for WinINet: it arrives, but
// nothing proves it whole.
TEST_F(Transfer, AChunkedBodyArrivesUnproven) {
    const std::string bytes = RandomBytes(300000);
    Reply chunked = Reply::Ok(bytes);
    chunked.chunked = true;
    scenario.Server().Set("/majv4/XVelmor.mdb", chunked);
    Reply cut = Reply::CutShort(bytes, 240000);
    cut.chunked = true;
    scenario.Server().Set("/majv4/MailLink.exe", cut);
    const Record download = Download(Url("/majv4/XVelmor.mdb"));
    EXPECT_EQ(download.Get("result"), "unproven");
    EXPECT_EQ(download.Get("fnv"), Fnv(bytes));
    EXPECT_NE(Download(Url("/majv4/MailLink.exe")).Get("result"), "complete");
}

// However much the server sends, a fetch reads one byte past its limit at most, announced or not, and
// ends there: the rest is not read either as the request closes (which WinINet under Wine would do
// for as long as the server keeps sending), so the fetch ends within its request time-out.
TEST_F(Transfer, AFetchFailsPastItsSizeLimit) {
    const std::string page = "<p>Lumoradex V4.2.1</p>";
    auto chunked = [](Reply reply) {
        reply.chunked = true;
        return reply;
    };
    scenario.Server().Set("/fits.htm", Reply::Padded(page, 1000));
    scenario.Server().Set("/over.htm", Reply::Padded(page, 1001));
    scenario.Server().Set("/fits-chunked.htm", chunked(Reply::Padded(page, 1000)));
    scenario.Server().Set("/endless.htm", chunked(Reply::Padded(page, std::size_t{768} << 20)));
    const std::vector<Record> fetches = Fetch(
        {Url("/fits.htm"), Url("/over.htm"), Url("/fits-chunked.htm"), Url("/endless.htm")}, kShortTimeout, "1000");
    ASSERT_EQ(fetches.size(), 4u);
    EXPECT_TRUE(fetches[0].Flag("ok"));
    EXPECT_EQ(fetches[0].Number("size"), 1000);
    EXPECT_FALSE(fetches[1].Flag("ok"));
    EXPECT_TRUE(fetches[2].Flag("ok"));
    EXPECT_FALSE(fetches[3].Flag("ok"));
    EXPECT_LT(fetches[3].Number("ms"), std::stoi(kShortTimeout));
}

// No single wait is long, but the whole fetch may not outlast the request time-out.
TEST_F(Transfer, AFetchFailsOnceItsWholeTimeHasPassed) {
    scenario.Server().Set("/slow.htm", Reply::Page("Lumoradex V4.2.1").Dripped(50ms));
    scenario.Server().Set("/dripped.htm", Reply::Page("Lumoradex V4.2.1").Dripped(500ms));
    const std::vector<Record> fetches = Fetch({Url("/slow.htm"), Url("/dripped.htm")}, kShortTimeout);
    ASSERT_EQ(fetches.size(), 2u);
    EXPECT_EQ(fetches[0].Get("body"), "Lumoradex V4.2.1");
    EXPECT_FALSE(fetches[1].Flag("ok"));
    EXPECT_FALSE(fetches[1].Flag("busy_after"));
}

// A download may take far longer than the request time-out while it keeps moving (1 KiB in every
// window of the time-out), and fails when it crawls.
TEST_F(Transfer, ADownloadFailsOnlyWhenItStopsMoving) {
    const std::string bytes = RandomBytes(10 * 1024);
    scenario.Server().Set("/majv4/socle.mdb", Reply::Ok(bytes).Throttled(2048));
    scenario.Server().Set("/majv4/Velmor.prm", Reply::Ok(bytes).Dripped(500ms));
    const Record steady = Download(Url("/majv4/socle.mdb"), kShortTimeout);
    EXPECT_EQ(steady.Get("result"), "complete");
    EXPECT_EQ(steady.Get("fnv"), Fnv(bytes));
    EXPECT_EQ(Download(Url("/majv4/Velmor.prm"), kShortTimeout).Get("result"), "failed");
}

// As many redirects as a browser follows and no more; one that names nowhere, or another scheme, fails.
TEST_F(Transfer, RedirectsAreBounded) {
    for (int hop = 0; hop < 10; ++hop)
        scenario.Server().Set("/hop" + std::to_string(hop), Reply::Redirect("/hop" + std::to_string(hop + 1)));
    scenario.Server().Set("/hop10", Reply::Page("Lumoradex V4.2.1"));
    scenario.Server().Set("/loop", Reply::Redirect("/loop"));
    scenario.Server().Set("/nowhere", Reply::Status(302, "<html>Moved</html>"));
    scenario.Server().Set("/elsewhere", Reply::Redirect("ftp://127.0.0.1/version.htm"));
    const std::vector<Record> fetches =
        Fetch({Url("/hop0"), Url("/loop"), Url("/nowhere"), Url("/elsewhere")}, kShortTimeout);
    ASSERT_EQ(fetches.size(), 4u);
    EXPECT_EQ(fetches[0].Get("body"), "Lumoradex V4.2.1");
    for (std::size_t refused = 1; refused < 4; ++refused)
        EXPECT_FALSE(fetches[refused].Flag("ok")) << refused;
    EXPECT_EQ(scenario.Server().RequestCount("/loop"), 11); // the request and ten redirects
}

// The announced length is read as a 64-bit number; one that is no number at all fails the transfer;
// a body goes no further than it announced (what follows is not read), nor than the receiver's plan,
// into the sink.
TEST_F(Transfer, TheAnnouncedLengthBoundsTheBody) {
    const std::string bytes = RandomBytes(4000);
    Reply garbled = Reply::Ok(bytes);
    garbled.headers.emplace_back("Content-Length", "4O00");
    scenario.Server().Set("/majv4/Velmor.prm", garbled);
    scenario.Server().Set("/majv4/XVelmor.mdb", Reply::Padded("", std::size_t{5} << 30));
    scenario.Server().Set("/majv4/socle.mdb", Reply::Oversized(bytes, 70000));
    Reply endless = Reply::Padded("", std::size_t{768} << 20);
    endless.chunked = true;
    scenario.Server().Set("/majv4/MailLink.exe", endless);

    EXPECT_EQ(Download(Url("/majv4/Velmor.prm")).Get("result"), "failed");
    const Record huge = Download(Url("/majv4/XVelmor.mdb"), kRequestTimeout, "1000");
    EXPECT_EQ(huge.Get("announced"), "5368709120");
    EXPECT_EQ(huge.Get("result"), "failed");
    EXPECT_EQ(huge.Number("size"), 0);
    const Record oversized = Download(Url("/majv4/socle.mdb"));
    EXPECT_EQ(oversized.Get("result"), "complete");
    EXPECT_EQ(oversized.Get("fnv"), Fnv(bytes));
    const Record streamed = Download(Url("/majv4/MailLink.exe"), kRequestTimeout, "100000");
    EXPECT_EQ(streamed.Get("result"), "failed");
    EXPECT_LE(streamed.Number("size"), 100000);
}

TEST_F(Transfer, ARedirectIsFollowed) {
    scenario.Server().Set("/version.htm", Reply::Redirect("/ailleurs.htm"));
    scenario.Server().Set("/ailleurs.htm", Reply::Page("Lumoradex V4.2.1"));
    const std::vector<Record> fetches = Fetch({Url("/version.htm")});
    ASSERT_EQ(fetches.size(), 1u);
    EXPECT_EQ(fetches[0].Get("body"), "Lumoradex V4.2.1");
}

} // namespace
} // namespace lumoradex::e2e
