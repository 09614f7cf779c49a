#pragma once
// The loopback update server of the end-to-end tests, the demo and the benchmarks (cpp-httplib).
// It binds 127.0.0.1 only, answers every GET from scripted replies, records every request, and
// stops with its owner (a stalled or throttled answer ends when the server stops).
//
//     UpdateServer server(UpdateServerPort());          // serves until destroyed
//     server.SetVersionPage("4.2.1");                    // "/version.htm" publishes Lumoradex V4.2.1
//     server.SetFile("Velmor.exe", bytes);               // "/majv4/Velmor.exe"
//     server.Set("/majv4/socle.mdb", Reply::CutShort(bytes, 600));
//     server.SetSequence("/majv4/Velmor.prm", {Reply::Status(500), Reply::Ok(bytes)});
//     server.Set("/version.htm", Reply::Page(VersionPage("4.2.1")).Dripped(20s));   // a byte every 20 s
//     server.Set("/version.htm", Reply::DrippedHeaders(VersionPage("4.2.1"), 5s));  // headers too, a byte every 5 s
//     server.Set("/version.htm", Reply::EndlessHeaderLines());                      // header lines, never a blank one
//     server.CutAt("/majv4/Velmor.exe", 100000);         // the next answer reaching byte 100000 ends before it
//     server.LimitAnswerBytes(65536);                    // every answer closes after 64 KiB of its body
//     server.ProxyTo(nginx.BaseUrl());                   // paths without a reply from a real web server
//     ... run the program ...
//     EXPECT_EQ(server.RequestCount("/version.htm"), 2);
//     EXPECT_LT(server.BodyBytesSent("/majv4/Velmor.exe"), bytes.size() * 11 / 10);
//
// Paths without a reply are forwarded to the upstream, if any (ProxyTo), else looked up in the served
// folder, if any (ServeFolder), else get 404.
//
// A 200 file answer without faults (SetFile, Reply::Ok, Page or FromFile, a served-folder file) is
// answered as common web servers do: a strong ETag (of its bytes; a file's of its size and modification
// time), Last-Modified (the time it was set, a second later at least for a new body; a file's
// modification time), Accept-Ranges, and one byte range of a Range header as 206 with Content-Range
// (416 when it cannot be satisfied, several ranges whole), applied only when If-Range, if any, is the
// current ETag or Last-Modified. Throttling applies to the part as to a whole body.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "tests/e2e/tls_certificates.h"

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace lumoradex::e2e {

// One scripted answer. The named constructors give the usual faults; the fields combine freely.
struct Reply {
    int status = 200;
    std::string body;
    std::string contentType = "application/octet-stream";
    std::vector<std::pair<std::string, std::string>> headers;
    std::chrono::milliseconds delay{0}; // waits before answering at all
    bool stall = false;                 // accepts and never answers, until the server stops
    // Sends only this many bytes of the body, then closes the connection, while Content-Length
    // announces the whole body.
    std::optional<std::size_t> cutAfter;
    bool resetAtCut = false;                   // at the cut, resets the connection (RST) instead of closing it
    std::size_t extraBytes = 0;                // sends this many bytes more than Content-Length announces
    bool chunked = false;                      // chunked transfer encoding, no Content-Length
    std::size_t bytesPerSecond = 0;            // bandwidth limit of this answer; 0: the server's default
    std::chrono::milliseconds drip{0};         // sends one byte, the first at once, then one per interval
    std::size_t paddedTo = 0;                  // the body followed by spaces up to this size, made as sent
    std::optional<std::filesystem::path> file; // body streamed from this file instead of `body`
    // Faulty headers, which httplib would never write, go out raw on the connection, on plain HTTP only
    // (a TLS server answers them with 500). Of the other fields, only `body` and `delay` apply.
    std::chrono::milliseconds headerDrip{0}; // the whole answer, headers included, dripped
    bool endlessHeaders = false;             // "200 OK" then header lines without end

    static Reply Ok(std::string body, std::string contentType = "application/octet-stream");
    static Reply Page(std::string html); // 200, text/html
    static Reply FromFile(std::filesystem::path file);
    // Any status with any body (an error page by default).
    static Reply Status(int status, std::optional<std::string> body = std::nullopt);
    static Reply Stall();
    static Reply CutShort(std::string body, std::size_t bytesSent);
    static Reply ResetMidBody(std::string body, std::size_t bytesSent);
    static Reply Oversized(std::string body, std::size_t extraBytes);
    static Reply Redirect(std::string location, int status = 302);
    // 200, text/html: the page, then spaces up to totalSize bytes, none of them held in memory.
    static Reply Padded(std::string html, std::size_t totalSize);
    // "HTTP/1.1 200 OK", Content-Length, "Connection: close", the blank line and the body, one byte
    // per interval, the first at once.
    static Reply DrippedHeaders(std::string body, std::chrono::milliseconds interval);
    // "HTTP/1.1 200 OK" then header lines without end, as fast as the client reads them, until it
    // closes the connection.
    static Reply EndlessHeaderLines();

    Reply& Delayed(std::chrono::milliseconds wait) {
        delay = wait;
        return *this;
    }
    Reply& Throttled(std::size_t limit) {
        bytesPerSecond = limit;
        return *this;
    }
    Reply& Dripped(std::chrono::milliseconds interval) {
        drip = interval;
        return *this;
    }
};

// An HTML page that publishes a version: "... Lumoradex V" + version + " ...".
std::string VersionPage(std::string_view version);
// The error page the server sends with a status and no body of its own.
std::string ErrorPage(int status);

struct ReceivedRequest {
    std::string method;
    std::string path;   // without the query
    std::string target; // as sent, query included
    std::vector<std::pair<std::string, std::string>> headers;
    std::chrono::steady_clock::time_point at;
};

class UpdateServer {
public:
    // Listens on 127.0.0.1:port at once; throws std::runtime_error when the port cannot be bound.
    explicit UpdateServer(int port);
    // The same over TLS with the identity's certificate and key (see tls_certificates.h).
    UpdateServer(int port, const TlsIdentity& identity);
    UpdateServer(const UpdateServer&) = delete;
    UpdateServer& operator=(const UpdateServer&) = delete;
    ~UpdateServer();

    // Ends every answer in progress (stalls included) and closes the port. Safe to call twice.
    void Stop();
    int Port() const { return port_; }
    std::string BaseUrl() const;

    void Set(const std::string& path, Reply reply);
    // One reply per request, in order; the last one answers every further request.
    void SetSequence(const std::string& path, std::vector<Reply> replies);
    void SetVersionPage(std::string_view version);
    void SetFile(const std::string& name, std::string bytes); // "/majv4/" + name
    void Remove(const std::string& path);
    // Paths without a reply are served from folder + path (files streamed from disk).
    void ServeFolder(std::filesystem::path folder);
    // Default bandwidth limit of every answer, in bytes per second; 0 for none.
    void SetBandwidth(std::size_t bytesPerSecond);
    // Forwards the GETs of paths without a reply to upstreamBaseUrl ("http://127.0.0.1:18231") with
    // their Range and If-Range, and relays the status, the length, Content-Range, the validators and
    // the body, streamed, subject to the faults below. An upstream answer without Content-Length, or
    // none at all, becomes 502.
    void ProxyTo(std::string upstreamBaseUrl);

    // Faults across answers, by path (served-folder and forwarded ones too). The next `times` answers
    // of path whose body holds byte fileOffset of the file send the bytes before it, then close the
    // connection, Content-Length announcing the whole answer; one starting past it is sent whole.
    void CutAt(const std::string& path, std::size_t fileOffset, int times = 1);
    // Every answer of path, or of every path, sends at most this many body bytes, then closes the
    // connection; 0 lifts the limit.
    void LimitAnswerBytes(const std::string& path, std::size_t bytes);
    void LimitAnswerBytes(std::size_t bytes);
    // Every answer 200 with the whole body and no Accept-Ranges, whatever Range and If-Range say.
    void IgnoreRanges(bool ignore);

    std::vector<ReceivedRequest> Requests() const;
    int RequestCount(std::string_view path) const;
    // Waits until path has been requested at least count times; false when the time-out passed.
    bool WaitForRequests(std::string_view path, int count, std::chrono::milliseconds timeout) const;
    void ClearRequests();
    // The body bytes handed to the connections of path's answers, over all of them.
    std::size_t BodyBytesSent(std::string_view path) const;

private:
    struct Script {
        std::vector<Reply> replies;
        std::size_t next = 0;
    };
    struct Served {
        Reply reply;
        std::chrono::system_clock::time_point modified; // when its path's replies were set; a file has its own
    };
    struct Cut {
        std::size_t offset;
        int times;
    };
    struct Outgoing;
    class Responder;
    class Upstream;

    UpdateServer(int port, std::unique_ptr<httplib::Server> server);
    void Answer(const httplib::Request& request, httplib::Response& response);
    // Validators and Accept-Ranges of a static answer, and the one range asked for, if it applies.
    void ApplyRange(const httplib::Request& request, httplib::Response& response, Served& served, Outgoing& body);
    void Forward(const httplib::Request& request, httplib::Response& response, const std::string& upstream);
    void Send(httplib::Response& response, Reply reply, std::shared_ptr<Upstream> upstream, Outgoing body);
    std::optional<Served> NextReply(const std::string& path);
    void CountSent(const std::string& path, std::size_t bytes);
    void Record(ReceivedRequest request);
    // Sleeps up to the duration; returns false at once when the server stops.
    bool Wait(std::chrono::steady_clock::duration duration) const;
    // Answers a reply whose headers are at fault straight on the connection, then closes it.
    void SendRaw(const Reply& reply, int localPort, int remotePort) const;
    // Writes the bytes as fast as the client reads them; false when it closed or the server stops.
    bool Write(int fd, std::string_view bytes) const;

    int port_;
    bool secure_;
    std::unique_ptr<httplib::Server> server_;
    std::thread listener_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopping_ = false;
    std::map<std::string, Script> scripts_;
    std::map<std::string, std::chrono::system_clock::time_point> modified_; // kept when a path is removed
    std::optional<std::filesystem::path> folder_;
    std::optional<std::string> upstream_;
    std::size_t bandwidth_ = 0;
    std::map<std::string, Cut> cuts_;
    std::map<std::string, std::size_t> limits_;
    std::size_t limitAll_ = 0;
    bool ignoreRanges_ = false;
    std::vector<ReceivedRequest> requests_;
    std::map<std::string, std::size_t, std::less<>> sent_;
};

} // namespace lumoradex::e2e
