// The loopback server's scripted faults, seen from a raw socket: each must reach a client exactly as
// scripted, or the end-to-end tests built on it would prove nothing.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>

#include <gtest/gtest.h>

#include "tests/e2e/e2e.h"

namespace lumoradex::e2e {
namespace {

struct RawAnswer {
    std::string bytes;     // everything received, headers included
    bool reset = false;    // the connection ended with a reset
    bool timedOut = false; // nothing more came within the read time-out
    std::string Head() const { return bytes.substr(0, bytes.find("\r\n\r\n")); }
    std::string Body() const {
        size_t end = bytes.find("\r\n\r\n");
        return end == std::string::npos ? std::string() : bytes.substr(end + 4);
    }
    int Status() const { return std::stoi(bytes.substr(9, 3)); }
    // The value of a header, whatever the case of its name; empty when absent.
    std::string Header(std::string name) const {
        std::string head = Head();
        for (std::string* text : {&head, &name})
            std::transform(text->begin(), text->end(), text->begin(), [](unsigned char c) { return std::tolower(c); });
        const size_t start = head.find("\r\n" + name + ": ");
        if (start == std::string::npos)
            return {};
        const size_t value = start + name.size() + 4;
        return Head().substr(value, head.find("\r\n", value) - value);
    }
};

// A plain socket that has sent one GET, its answer yet to read.
int SendGet(int port, const std::string& path, std::chrono::milliseconds readTimeout,
            const std::string& extraHeaders = {}) {
    const int sock = socket(AF_INET, SOCK_STREAM, 0);
    timeval timeout{static_cast<time_t>(readTimeout.count() / 1000),
                    static_cast<suseconds_t>((readTimeout.count() % 1000) * 1000)};
    setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(sock);
        throw std::runtime_error("connection refused");
    }
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n";
    send(sock, request.data(), request.size(), MSG_NOSIGNAL);
    return sock;
}

// One GET over a plain socket, read until the server closes, resets or stays silent too long.
RawAnswer Get(int port, const std::string& path, std::chrono::milliseconds readTimeout = 5s,
              const std::string& extraHeaders = {}) {
    RawAnswer answer;
    const int sock = SendGet(port, path, readTimeout, extraHeaders);
    char buffer[65536];
    for (;;) {
        ssize_t count = recv(sock, buffer, sizeof buffer, 0);
        if (count > 0) {
            answer.bytes.append(buffer, static_cast<size_t>(count));
            continue;
        }
        answer.reset = count < 0 && errno == ECONNRESET;
        answer.timedOut = count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        break;
    }
    close(sock);
    return answer;
}

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('a' + i % 26);
    return bytes;
}

class UpdateServerTest : public ::testing::Test {
protected:
    const int port_ = UpdateServerPort();
    UpdateServer server_{port_};
};

TEST_F(UpdateServerTest, PublishesTheVersionPageAndRecordsEachRequest) {
    server_.SetVersionPage("4.2.1");
    RawAnswer first = Get(port_, "/version.htm");
    RawAnswer second = Get(port_, "/version.htm?again");
    EXPECT_EQ(first.Status(), 200);
    EXPECT_NE(first.Body().find("Lumoradex V4.2.1<"), std::string::npos);
    EXPECT_EQ(second.Body(), first.Body());
    EXPECT_EQ(server_.RequestCount("/version.htm"), 2);
    EXPECT_EQ(server_.Requests().back().target, "/version.htm?again");
}

TEST_F(UpdateServerTest, SendsPagesUncompressedWhateverTheClientAccepts) {
    server_.SetVersionPage("4.2.1");
    RawAnswer answer = Get(port_, "/version.htm", 5s, "Accept-Encoding: gzip, deflate, br\r\n");
    EXPECT_EQ(answer.Body(), VersionPage("4.2.1"));
    const auto headers = server_.Requests().front().headers;
    EXPECT_NE(std::find(headers.begin(), headers.end(),
                        std::pair<std::string, std::string>("Accept-Encoding", "gzip, deflate, br")),
              headers.end())
        << "the request is recorded as sent";
}

TEST_F(UpdateServerTest, AnswersUnknownPathsWith404AndTheSupportPageByDefault) {
    EXPECT_EQ(Get(port_, "/majv4/absent.prm").Status(), 404);
    EXPECT_EQ(Get(port_, "/support.htm").Status(), 200);
}

TEST_F(UpdateServerTest, SendsAnyStatusWithAnyBody) {
    server_.Set("/majv4/Velmor.prm", Reply::Status(500, std::string(1000, 'e')));
    RawAnswer answer = Get(port_, "/majv4/Velmor.prm");
    EXPECT_EQ(answer.Status(), 500);
    EXPECT_EQ(answer.Body(), std::string(1000, 'e'));
}

TEST_F(UpdateServerTest, CutShortClosesAfterTheGivenBytesWhileAnnouncingTheWholeLength) {
    server_.Set("/majv4/socle.mdb", Reply::CutShort(Pattern(100000), 600));
    RawAnswer answer = Get(port_, "/majv4/socle.mdb");
    EXPECT_NE(answer.Head().find("Content-Length: 100000"), std::string::npos) << answer.Head();
    EXPECT_EQ(answer.Body(), Pattern(600));
    EXPECT_FALSE(answer.reset);
    EXPECT_FALSE(answer.timedOut);
}

TEST_F(UpdateServerTest, ResetMidBodyAbortsTheConnection) {
    server_.Set("/majv4/socle.mdb", Reply::ResetMidBody(Pattern(100000), 600));
    RawAnswer answer = Get(port_, "/majv4/socle.mdb");
    EXPECT_TRUE(answer.reset);
    EXPECT_LE(answer.Body().size(), 600u);
}

TEST_F(UpdateServerTest, OversizedSendsMoreThanContentLength) {
    server_.Set("/majv4/MailLink.exe", Reply::Oversized(Pattern(1000), 50));
    RawAnswer answer = Get(port_, "/majv4/MailLink.exe");
    EXPECT_NE(answer.Head().find("Content-Length: 1000"), std::string::npos) << answer.Head();
    EXPECT_EQ(answer.Body(), Pattern(1000) + std::string(50, 'X'));
}

TEST_F(UpdateServerTest, ChunkedAndThrottledBodiesArriveWhole) {
    Reply chunked = Reply::Ok(Pattern(200000));
    chunked.chunked = true;
    server_.Set("/chunked", chunked);
    server_.Set("/slow", Reply::Ok(Pattern(20000)).Throttled(200000));
    RawAnswer answer = Get(port_, "/chunked");
    EXPECT_NE(answer.Head().find("Transfer-Encoding: chunked"), std::string::npos) << answer.Head();
    EXPECT_EQ(Get(port_, "/slow").Body(), Pattern(20000));
}

TEST_F(UpdateServerTest, PaddedPagesReachTheirWholeSizeAnnouncedOrChunked) {
    constexpr std::size_t kSize = 3 * 1024 * 1024;
    const std::string page = VersionPage("4.2.1");
    Reply chunked = Reply::Padded(page, kSize);
    chunked.chunked = true;
    server_.Set("/announced", Reply::Padded(page, kSize));
    server_.Set("/chunked", chunked);
    RawAnswer announced = Get(port_, "/announced");
    EXPECT_NE(announced.Head().find("Content-Length: 3145728"), std::string::npos) << announced.Head();
    EXPECT_EQ(announced.Body(), page + std::string(kSize - page.size(), ' '));
    RawAnswer inChunks = Get(port_, "/chunked");
    EXPECT_NE(inChunks.Head().find("Transfer-Encoding: chunked"), std::string::npos) << inChunks.Head();
    EXPECT_GT(inChunks.Body().size(), kSize);
    EXPECT_TRUE(inChunks.Body().ends_with("\r\n0\r\n\r\n"));
}

// The first byte goes at once, each of the others an interval after the one before.
TEST_F(UpdateServerTest, ADripSendsOneByteEachInterval) {
    server_.Set("/version.htm", Reply::Page("abc").Dripped(1s));
    RawAnswer first = Get(port_, "/version.htm", 400ms);
    EXPECT_TRUE(first.timedOut);
    EXPECT_EQ(first.Body(), "a");
    EXPECT_EQ(Get(port_, "/version.htm").Body(), "abc");
}

// Headers no HTTP library would write: dripped from their first byte on, or header lines without end.
TEST_F(UpdateServerTest, FaultyHeadersGoOutRawDrippedOrWithoutEnd) {
    server_.Set("/version.htm", Reply::DrippedHeaders("abc", 1s));
    server_.Set("/fast.htm", Reply::DrippedHeaders("abc", 1ms));
    server_.Set("/endless.htm", Reply::EndlessHeaderLines());
    RawAnswer first = Get(port_, "/version.htm", 300ms);
    EXPECT_TRUE(first.timedOut);
    EXPECT_EQ(first.bytes, "H");
    RawAnswer whole = Get(port_, "/fast.htm");
    EXPECT_EQ(whole.bytes, "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nConnection: close\r\n\r\nabc");
    EXPECT_FALSE(whole.reset);

    // Header lines keep coming while the client reads; 32 more clients, one per worker of the server,
    // give up at once: their writers must end with them, or nothing would answer the page after.
    // The first client, still there and reading no more, must not hold up the stop.
    const int reader = SendGet(port_, "/endless.htm", 5s);
    std::string head;
    char buffer[65536];
    for (ssize_t count = 1; count > 0 && head.size() < 1024 * 1024;) {
        count = recv(reader, buffer, sizeof buffer, 0);
        head.append(buffer, static_cast<size_t>(std::max<ssize_t>(count, 0)));
    }
    EXPECT_GE(head.size(), 1024u * 1024);
    EXPECT_TRUE(head.starts_with("HTTP/1.1 200 OK\r\nX-Filler-0: ")) << head.substr(0, 100);
    EXPECT_EQ(head.find("\r\n\r\n"), std::string::npos);
    for (int i = 0; i < 32; ++i) {
        const int quitter = SendGet(port_, "/endless.htm", 5s);
        recv(quitter, buffer, sizeof buffer, 0);
        close(quitter);
    }
    EXPECT_FALSE(Get(port_, "/support.htm").timedOut) << "writers whose clients left still hold the workers";
    const auto stopping = std::chrono::steady_clock::now();
    server_.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 1s);
    close(reader);
}

TEST_F(UpdateServerTest, RedirectsWithLocation) {
    server_.Set("/version.htm", Reply::Redirect("/moved.htm", 301));
    RawAnswer answer = Get(port_, "/version.htm");
    EXPECT_EQ(answer.Status(), 301);
    EXPECT_NE(answer.Head().find("Location: /moved.htm"), std::string::npos) << answer.Head();
}

TEST_F(UpdateServerTest, ASequenceAnswersInOrderThenRepeatsItsLastReply) {
    server_.SetSequence("/majv4/Velmor.exe", {Reply::Status(503), Reply::Ok("second")});
    EXPECT_EQ(Get(port_, "/majv4/Velmor.exe").Status(), 503);
    EXPECT_EQ(Get(port_, "/majv4/Velmor.exe").Body(), "second");
    EXPECT_EQ(Get(port_, "/majv4/Velmor.exe").Body(), "second");
}

TEST_F(UpdateServerTest, ServesAFolderForPathsWithoutReplies) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "lumoradex-server-test";
    std::filesystem::create_directories(folder / "majv4");
    std::ofstream(folder / "majv4" / "socle.mdb", std::ios::binary) << Pattern(300000);
    server_.ServeFolder(folder);
    EXPECT_EQ(Get(port_, "/majv4/socle.mdb").Body(), Pattern(300000));
    EXPECT_EQ(Get(port_, "/majv4/../../etc/passwd").Status(), 404);
    std::filesystem::remove_all(folder);
}

// One range of a file answer, as a program resuming a download asks for it, with the validators it
// resumes by; whether the body is held in memory or streamed from a served folder.
TEST_F(UpdateServerTest, AnswersOneByteRangeWith206AndTheValidators) {
    server_.SetFile("Velmor.exe", Pattern(100000));
    const RawAnswer whole = Get(port_, "/majv4/Velmor.exe");
    EXPECT_EQ(whole.Status(), 200);
    EXPECT_EQ(whole.Header("Accept-Ranges"), "bytes");
    EXPECT_TRUE(whole.Header("ETag").starts_with("\"")) << whole.Head();
    EXPECT_TRUE(whole.Header("Last-Modified").ends_with(" GMT")) << whole.Head();

    const RawAnswer rest = Get(port_, "/majv4/Velmor.exe", 5s, "Range: bytes=1000-\r\n");
    EXPECT_EQ(rest.Status(), 206);
    EXPECT_EQ(rest.Header("Content-Range"), "bytes 1000-99999/100000");
    EXPECT_EQ(rest.Header("Content-Length"), "99000");
    EXPECT_EQ(rest.Header("ETag"), whole.Header("ETag"));
    EXPECT_EQ(rest.Body(), Pattern(100000).substr(1000));
    EXPECT_EQ(Get(port_, "/majv4/Velmor.exe", 5s, "Range: bytes=10-19\r\n").Body(), Pattern(100000).substr(10, 10));
    EXPECT_EQ(Get(port_, "/majv4/Velmor.exe", 5s, "Range: bytes=-100\r\n").Body(), Pattern(100000).substr(99900));

    const TemporaryFolder folder("lumoradex-server-test");
    std::filesystem::create_directories(folder.Path() / "majv4");
    std::ofstream(folder.Path() / "majv4" / "socle.mdb", std::ios::binary) << Pattern(300000);
    server_.ServeFolder(folder.Path());
    server_.SetBandwidth(2'000'000);
    const std::string tag = Get(port_, "/majv4/socle.mdb").Header("ETag");
    const RawAnswer streamed = Get(port_, "/majv4/socle.mdb", 5s, "Range: bytes=200000-\r\nIf-Range: " + tag + "\r\n");
    EXPECT_EQ(streamed.Status(), 206);
    EXPECT_EQ(streamed.Header("Content-Range"), "bytes 200000-299999/300000");
    EXPECT_EQ(streamed.Body(), Pattern(300000).substr(200000));
}

// A copy begun from another body must never be completed with this one: the range applies only when
// If-Range names the current body, by its ETag or its date, both of which change with the body.
TEST_F(UpdateServerTest, IfRangeAppliesTheRangeOnlyToTheCurrentBody) {
    server_.SetFile("Velmor.exe", Pattern(5000));
    const RawAnswer before = Get(port_, "/majv4/Velmor.exe");
    const std::string replaced = std::string(5000, 'n');
    server_.SetFile("Velmor.exe", replaced);
    const RawAnswer after = Get(port_, "/majv4/Velmor.exe");
    ASSERT_NE(after.Header("ETag"), before.Header("ETag"));
    ASSERT_NE(after.Header("Last-Modified"), before.Header("Last-Modified"));

    for (const std::string& current : {after.Header("ETag"), after.Header("Last-Modified")}) {
        const RawAnswer part =
            Get(port_, "/majv4/Velmor.exe", 5s, "Range: bytes=4000-\r\nIf-Range: " + current + "\r\n");
        EXPECT_EQ(part.Status(), 206) << current;
        EXPECT_EQ(part.Body(), replaced.substr(4000));
    }
    for (const std::string& stale :
         {before.Header("ETag"), before.Header("Last-Modified"), "W/" + after.Header("ETag")}) {
        const RawAnswer fresh =
            Get(port_, "/majv4/Velmor.exe", 5s, "Range: bytes=4000-\r\nIf-Range: " + stale + "\r\n");
        EXPECT_EQ(fresh.Status(), 200) << stale;
        EXPECT_EQ(fresh.Header("Content-Range"), "");
        EXPECT_EQ(fresh.Body(), replaced);
    }
}

// A range past the end gets 416 with the length; several ranges, or another unit, the whole body.
// A range httplib cannot parse itself is answered the same way, and recorded.
TEST_F(UpdateServerTest, AnUnsatisfiableRangeGets416WithTheLength) {
    server_.SetFile("Velmor.exe", Pattern(1000));
    for (const char* range : {"bytes=1000-", "bytes=5-3"}) {
        const RawAnswer refused = Get(port_, "/majv4/Velmor.exe", 5s, std::string("Range: ") + range + "\r\n");
        EXPECT_EQ(refused.Status(), 416) << range;
        EXPECT_EQ(refused.Header("Content-Range"), "bytes */1000") << range;
    }
    EXPECT_EQ(server_.RequestCount("/majv4/Velmor.exe"), 2);
    for (const char* range : {"bytes=0-1,5-6", "lines=1-2"}) {
        const RawAnswer whole = Get(port_, "/majv4/Velmor.exe", 5s, std::string("Range: ") + range + "\r\n");
        EXPECT_EQ(whole.Status(), 200) << range;
        EXPECT_EQ(whole.Body(), Pattern(1000)) << range;
    }
}

// The next answers that reach the offset end just before it; a resumed one starting past it goes
// through, and is not counted among them.
TEST_F(UpdateServerTest, CutAtEndsTheAnswersReachingTheOffsetAndNotThoseStartingPastIt) {
    server_.SetFile("Velmor.exe", Pattern(100000));
    server_.CutAt("/majv4/Velmor.exe", 40000, 2);
    const RawAnswer first = Get(port_, "/majv4/Velmor.exe");
    EXPECT_EQ(first.Header("Content-Length"), "100000");
    EXPECT_EQ(first.Body(), Pattern(40000));
    EXPECT_FALSE(first.reset);
    EXPECT_EQ(Get(port_, "/majv4/Velmor.exe", 5s, "Range: bytes=50000-\r\n").Body(), Pattern(100000).substr(50000));
    EXPECT_EQ(Get(port_, "/majv4/Velmor.exe", 5s, "Range: bytes=30000-\r\n").Body(),
              Pattern(100000).substr(30000, 10000));
    const RawAnswer resumed = Get(port_, "/majv4/Velmor.exe", 5s, "Range: bytes=40000-\r\n");
    EXPECT_EQ(resumed.Status(), 206);
    EXPECT_EQ(resumed.Body(), Pattern(100000).substr(40000));
    EXPECT_EQ(server_.BodyBytesSent("/majv4/Velmor.exe"), 40000u + 50000 + 10000 + 60000);
}

// A connection dropped every N bytes: a client resuming with If-Range gets the whole file for its
// size in bytes sent, never a byte twice.
TEST_F(UpdateServerTest, LimitAnswerBytesClosesEveryAnswerAfterThatMany) {
    server_.SetFile("Velmor.exe", Pattern(100000));
    server_.LimitAnswerBytes("/majv4/Velmor.exe", 30000);
    const RawAnswer first = Get(port_, "/majv4/Velmor.exe");
    EXPECT_EQ(first.Header("Content-Length"), "100000");
    const std::string tag = first.Header("ETag");
    std::string received = first.Body();
    while (received.size() < 100000) {
        const RawAnswer part =
            Get(port_, "/majv4/Velmor.exe", 5s,
                "Range: bytes=" + std::to_string(received.size()) + "-\r\nIf-Range: " + tag + "\r\n");
        ASSERT_EQ(part.Status(), 206);
        ASSERT_LE(part.Body().size(), 30000u);
        received += part.Body();
    }
    EXPECT_EQ(received, Pattern(100000));
    EXPECT_EQ(server_.BodyBytesSent("/majv4/Velmor.exe"), 100000u);
    EXPECT_EQ(server_.RequestCount("/majv4/Velmor.exe"), 4);

    server_.LimitAnswerBytes(10);
    server_.SetVersionPage("4.2.1");
    EXPECT_EQ(Get(port_, "/version.htm").Body(), VersionPage("4.2.1").substr(0, 10));
}

TEST_F(UpdateServerTest, IgnoreRangesAnswersEveryRequestWhole) {
    server_.SetFile("Velmor.exe", Pattern(1000));
    server_.IgnoreRanges(true);
    const RawAnswer whole = Get(port_, "/majv4/Velmor.exe", 5s, "Range: bytes=500-\r\n");
    EXPECT_EQ(whole.Status(), 200);
    EXPECT_EQ(whole.Header("Accept-Ranges"), "");
    EXPECT_EQ(whole.Header("Content-Range"), "");
    EXPECT_EQ(whole.Body(), Pattern(1000));
}

// nginx's own answers through the loopback server in front of it: its ETag, its 206 to an If-Range
// with that ETag, and a connection cut on the way.
TEST_F(UpdateServerTest, ProxiesARealWebServerAndCutsItsAnswers) {
    const TemporaryFolder files("lumoradex-nginx-files");
    std::filesystem::create_directories(files.Path() / "majv4");
    std::ofstream(files.Path() / "majv4" / "Velmor.exe", std::ios::binary) << Pattern(300000);
    const WebServer nginx(port_ + 1, files.Path());
    const std::string tag =
        Get(nginx.Port(), "/majv4/Velmor.exe", 5s, "Range: bytes=0-0\r\nConnection: close\r\n").Header("ETag");
    ASSERT_FALSE(tag.empty());
    server_.ProxyTo(nginx.BaseUrl());
    server_.CutAt("/majv4/Velmor.exe", 100000);

    const RawAnswer cut = Get(port_, "/majv4/Velmor.exe");
    EXPECT_EQ(cut.Status(), 200);
    EXPECT_EQ(cut.Header("Content-Length"), "300000");
    EXPECT_EQ(cut.Header("ETag"), tag);
    EXPECT_EQ(cut.Body(), Pattern(100000));
    const RawAnswer rest = Get(port_, "/majv4/Velmor.exe", 5s, "Range: bytes=100000-\r\nIf-Range: " + tag + "\r\n");
    EXPECT_EQ(rest.Status(), 206);
    EXPECT_EQ(rest.Header("Content-Range"), "bytes 100000-299999/300000");
    EXPECT_EQ(rest.Header("ETag"), tag);
    EXPECT_EQ(rest.Body(), Pattern(300000).substr(100000));
    EXPECT_EQ(server_.BodyBytesSent("/majv4/Velmor.exe"), 300000u);
    EXPECT_EQ(Get(port_, "/majv4/Velmor.exe", 5s, "Range: bytes=100000-\r\nIf-Range: \"other\"\r\n").Body(),
              Pattern(300000));
}

TEST_F(UpdateServerTest, AStallNeverAnswersAndEndsWhenTheServerStops) {
    server_.Set("/version.htm", Reply::Stall());
    RawAnswer silent = Get(port_, "/version.htm", 500ms);
    EXPECT_TRUE(silent.timedOut);
    EXPECT_TRUE(silent.bytes.empty());

    auto pending = std::async(std::launch::async, [&] { return Get(port_, "/version.htm", 20s); });
    ASSERT_TRUE(server_.WaitForRequests("/version.htm", 2, 5s));
    server_.Stop();
    ASSERT_EQ(pending.wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(pending.get().timedOut);
}

TEST_F(UpdateServerTest, ASecondServerCannotTakeThePort) {
    EXPECT_THROW(UpdateServer second(port_), std::runtime_error);
}

TEST_F(UpdateServerTest, NoServerAtAllRefusesConnections) {
    server_.Stop();
    EXPECT_THROW(Get(port_, "/version.htm"), std::runtime_error);
}

} // namespace
} // namespace lumoradex::e2e
