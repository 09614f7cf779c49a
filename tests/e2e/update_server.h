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
//     ... run the program ...
//     EXPECT_EQ(server.RequestCount("/version.htm"), 2);
//
// Paths without a reply are looked up in the served folder, if any (ServeFolder), else get 404.

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
}

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

    std::vector<ReceivedRequest> Requests() const;
    int RequestCount(std::string_view path) const;
    // Waits until path has been requested at least count times; false when the time-out passed.
    bool WaitForRequests(std::string_view path, int count, std::chrono::milliseconds timeout) const;
    void ClearRequests();

private:
    struct Script {
        std::vector<Reply> replies;
        std::size_t next = 0;
    };
    class Responder;

    UpdateServer(int port, std::unique_ptr<httplib::Server> server);
    std::optional<Reply> NextReply(const std::string& path);
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
    std::optional<std::filesystem::path> folder_;
    std::size_t bandwidth_ = 0;
    std::vector<ReceivedRequest> requests_;
};

} // namespace lumoradex::e2e
