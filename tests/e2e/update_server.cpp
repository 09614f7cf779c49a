#include "tests/e2e/update_server.h"

#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <deque>
#include <fstream>
#include <limits>
#include <stdexcept>

namespace lumoradex::e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kChunk = 64 * 1024;
// The most of a forwarded body held between the upstream and the client.
constexpr std::size_t kPipeBytes = 1024 * 1024;

int PortOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return -1;
}

// httplib hands the content provider no socket; the connection is found by its two ports.
int FindConnection(int localPort, int remotePort) {
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        int fd = -1;
        try {
            fd = std::stoi(entry.path().filename().string());
        } catch (const std::exception&) {
            continue;
        }
        struct stat status {};
        if (fstat(fd, &status) != 0 || !S_ISSOCK(status.st_mode))
            continue;
        sockaddr_storage local{};
        sockaddr_storage remote{};
        socklen_t localSize = sizeof local;
        socklen_t remoteSize = sizeof remote;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) == 0 &&
            getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &remoteSize) == 0 && PortOf(local) == localPort &&
            PortOf(remote) == remotePort)
            return fd;
    }
    return -1;
}

// Closes a connection behind httplib's back by putting an unconnected socket in its place, so that
// httplib, which still holds the descriptor number, later writes to, shuts down and closes that one
// instead.
void CloseConnection(int fd) {
    const int placeholder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (placeholder < 0)
        return;
    dup2(placeholder, fd);
    close(placeholder);
}

// Closing a socket whose linger time is zero sends a reset instead of the orderly close.
void ResetConnection(int localPort, int remotePort) {
    const int fd = FindConnection(localPort, remotePort);
    if (fd < 0)
        return;
    linger abort{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    CloseConnection(fd);
}

std::string ReasonPhrase(int status) {
    switch (status) {
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 416:
        return "Range Not Satisfiable";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Error";
    }
}

std::string ContentTypeOf(const fs::path& file) {
    const std::string extension = file.extension().string();
    if (extension == ".htm" || extension == ".html")
        return "text/html";
    return "application/octet-stream";
}

// "Sun, 06 Nov 1994 08:49:37 GMT", whatever the locale.
std::string HttpDate(std::time_t time) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[32];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[utc.tm_wday], utc.tm_mday,
                  kMonths[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

std::string Hex(std::uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%" PRIx64, value);
    return text;
}

struct Validators {
    std::string etag; // strong, quoted
    std::string lastModified;
};

// A file's validators come from its size and modification time, as common web servers make them, so
// that a large file is never read for them; a body's ETag from its bytes.
Validators ValidatorsOf(const Reply& reply, std::chrono::system_clock::time_point modified) {
    if (reply.file) {
        struct stat status {};
        if (stat(reply.file->c_str(), &status) != 0)
            throw std::runtime_error("cannot read " + reply.file->string());
        const auto nanoseconds = static_cast<std::uint64_t>(status.st_mtim.tv_sec) * 1'000'000'000u +
                                 static_cast<std::uint64_t>(status.st_mtim.tv_nsec);
        return {"\"" + Hex(nanoseconds) + "-" + Hex(static_cast<std::uint64_t>(status.st_size)) + "\"",
                HttpDate(status.st_mtim.tv_sec)};
    }
    std::uint64_t hash = 14695981039346656037u; // FNV-1a
    for (const unsigned char byte : reply.body)
        hash = (hash ^ byte) * 1099511628211u;
    return {"\"" + Hex(hash) + "-" + Hex(reply.body.size()) + "\"",
            HttpDate(std::chrono::system_clock::to_time_t(modified))};
}

// If-Range holds an entity tag or a date. A weak tag never matches (it is unfit for ranges), a strong
// one only the same tag, and a date only the current one exactly.
bool IfRangeHolds(std::string_view value, const Validators& current) {
    if (value.starts_with("W/"))
        return false;
    return value == (value.starts_with('"') ? current.etag : current.lastModified);
}

// What a Range header asks of a body of `size` bytes: several ranges are sent whole, as a server may,
// and a unit other than bytes is ignored; a range beyond the body, or one that cannot be read, cannot
// be satisfied.
struct RangeAsked {
    enum Kind { kWhole, kPart, kUnsatisfiable } kind = kWhole;
    std::uint64_t first = 0;
    std::uint64_t end = 0; // one past the last byte
};

// Digits only; a number too large for 64 bits is still past any body.
std::optional<std::uint64_t> BytePosition(std::string_view digits) {
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    std::uint64_t value = 0;
    if (std::from_chars(digits.data(), digits.data() + digits.size(), value).ec != std::errc())
        return std::numeric_limits<std::uint64_t>::max();
    return value;
}

RangeAsked ParseRange(std::string_view header, std::uint64_t size) {
    const std::size_t equals = header.find('=');
    const std::string_view unit = header.substr(0, equals);
    const auto bytesUnit = std::ranges::equal(unit, std::string_view("bytes"), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
    const std::string_view set = equals == std::string_view::npos ? std::string_view() : header.substr(equals + 1);
    if (!bytesUnit || set.find(',') != std::string_view::npos)
        return {};
    const RangeAsked unsatisfiable{RangeAsked::kUnsatisfiable};
    const std::size_t dash = set.find('-');
    if (dash == std::string_view::npos)
        return unsatisfiable;
    if (dash == 0) { // the last bytes
        const std::optional<std::uint64_t> suffix = BytePosition(set.substr(1));
        if (!suffix || *suffix == 0 || size == 0)
            return unsatisfiable;
        return {RangeAsked::kPart, size - std::min(*suffix, size), size};
    }
    const std::optional<std::uint64_t> first = BytePosition(set.substr(0, dash));
    const std::optional<std::uint64_t> last =
        dash + 1 == set.size() ? std::numeric_limits<std::uint64_t>::max() : BytePosition(set.substr(dash + 1));
    if (!first || !last || *last < *first || *first >= size)
        return unsatisfiable;
    return {RangeAsked::kPart, *first, std::min(*last, size - 1) + 1};
}

std::size_t BodySize(const Reply& reply) {
    return reply.file ? static_cast<std::size_t>(fs::file_size(*reply.file))
                      : std::max(reply.body.size(), reply.paddedTo);
}

} // namespace

Reply Reply::Ok(std::string body, std::string contentType) {
    Reply reply;
    reply.body = std::move(body);
    reply.contentType = std::move(contentType);
    return reply;
}

Reply Reply::Page(std::string html) {
    return Ok(std::move(html), "text/html");
}

Reply Reply::FromFile(fs::path file) {
    Reply reply;
    reply.contentType = ContentTypeOf(file);
    reply.file = std::move(file);
    return reply;
}

Reply Reply::Status(int status, std::optional<std::string> body) {
    Reply reply = Page(body ? std::move(*body) : ErrorPage(status));
    reply.status = status;
    return reply;
}

Reply Reply::Stall() {
    Reply reply;
    reply.stall = true;
    return reply;
}

Reply Reply::CutShort(std::string body, std::size_t bytesSent) {
    Reply reply = Ok(std::move(body));
    reply.cutAfter = bytesSent;
    return reply;
}

Reply Reply::ResetMidBody(std::string body, std::size_t bytesSent) {
    Reply reply = CutShort(std::move(body), bytesSent);
    reply.resetAtCut = true;
    return reply;
}

Reply Reply::Oversized(std::string body, std::size_t extraBytes) {
    Reply reply = Ok(std::move(body));
    reply.extraBytes = extraBytes;
    return reply;
}

Reply Reply::Padded(std::string html, std::size_t totalSize) {
    Reply reply = Page(std::move(html));
    reply.paddedTo = totalSize;
    return reply;
}

Reply Reply::DrippedHeaders(std::string body, std::chrono::milliseconds interval) {
    Reply reply = Ok(std::move(body));
    reply.headerDrip = interval;
    return reply;
}

Reply Reply::EndlessHeaderLines() {
    Reply reply;
    reply.endlessHeaders = true;
    return reply;
}

Reply Reply::Redirect(std::string location, int status) {
    Reply reply = Status(status, "<html><body>Moved</body></html>");
    reply.headers.emplace_back("Location", std::move(location));
    return reply;
}

std::string VersionPage(std::string_view version) {
    return "<html><head><title>Lumoradex</title></head><body><p>Derni\xC3\xA8re version : Lumoradex V" +
           std::string(version) + "</p></body></html>\r\n";
}

std::string ErrorPage(int status) {
    const std::string reason = ReasonPhrase(status);
    return "<html><head><title>" + std::to_string(status) + " " + reason + "</title></head><body><h1>" + reason +
           "</h1><p>The requested URL was not found or could not be served by this server.</p></body></html>\r\n";
}

// What one answer sends of its body.
struct UpdateServer::Outgoing {
    std::string path;                 // the body's, for the accounting
    std::size_t first = 0;            // the body's first byte it sends
    std::size_t length = 0;           // the bytes it announces
    std::optional<std::size_t> cut{}; // the bytes it sends before closing the connection
    std::size_t bandwidth = 0;        // the server's default limit
    int localPort = -1;
    int remotePort = -1;
};

// One GET forwarded to the upstream, its body read by a thread of its own while the answer sends it
// on: at most kPipeBytes of it wait in memory, whatever its size. Its state is guarded by the
// server's mutex, so that the server's stop ends every wait.
class UpdateServer::Upstream {
public:
    struct Head {
        int status;
        httplib::Headers headers;
    };

    Upstream(UpdateServer& server, const std::string& baseUrl, const std::string& target, httplib::Headers headers)
        : server_(server) {
        reader_ =
            std::thread([this, baseUrl, target, headers = std::move(headers)] { Read(baseUrl, target, headers); });
    }
    Upstream(const Upstream&) = delete;
    Upstream& operator=(const Upstream&) = delete;
    ~Upstream() {
        {
            std::lock_guard lock(server_.mutex_);
            abandoned_ = true;
        }
        server_.changed_.notify_all();
        reader_.join();
    }

    // The upstream's status and headers; nothing when it could not be reached or the server stops.
    std::optional<Head> WaitForHead() {
        std::unique_lock lock(server_.mutex_);
        server_.changed_.wait(lock, [this] { return head_ || finished_ || server_.stopping_; });
        return head_;
    }

    // Up to count bytes of the body as they come; none past its end, when it broke off or the server stops.
    std::string Take(std::size_t count) {
        std::unique_lock lock(server_.mutex_);
        server_.changed_.wait(lock, [this] { return !pending_.empty() || finished_ || server_.stopping_; });
        std::string piece;
        while (!server_.stopping_ && !pending_.empty() && piece.size() < count) {
            std::string& front = pending_.front();
            const std::size_t taken = std::min(count - piece.size(), front.size());
            piece.append(front, 0, taken);
            if (taken == front.size())
                pending_.pop_front();
            else
                front.erase(0, taken);
        }
        pendingBytes_ -= piece.size();
        lock.unlock();
        server_.changed_.notify_all();
        return piece;
    }

private:
    void Read(const std::string& baseUrl, const std::string& target, const httplib::Headers& headers) {
        httplib::Client client(baseUrl);
        client.set_url_encode(false); // the target as the client sent it
        client.Get(
            target, headers,
            [this](const httplib::Response& response) {
                std::lock_guard lock(server_.mutex_);
                head_ = Head{response.status, response.headers};
                server_.changed_.notify_all();
                return true;
            },
            [this](const char* data, std::size_t size) {
                std::unique_lock lock(server_.mutex_);
                server_.changed_.wait(lock,
                                      [this] { return pendingBytes_ < kPipeBytes || abandoned_ || server_.stopping_; });
                if (abandoned_ || server_.stopping_)
                    return false;
                pending_.emplace_back(data, size);
                pendingBytes_ += size;
                server_.changed_.notify_all();
                return true;
            });
        std::lock_guard lock(server_.mutex_);
        finished_ = true;
        server_.changed_.notify_all();
    }

    UpdateServer& server_;
    std::optional<Head> head_;
    std::deque<std::string> pending_;
    std::size_t pendingBytes_ = 0;
    bool finished_ = false;
    bool abandoned_ = false;
    std::thread reader_;
};

// Sends one body piece by piece, from the reply or from the upstream: paced to the bandwidth limit or
// dripped, padded, cut, reset or lengthened as the reply and the server's faults say, counted, and
// abandoned as soon as the server stops.
class UpdateServer::Responder {
public:
    Responder(UpdateServer& server, Reply reply, std::shared_ptr<Upstream> upstream, Outgoing body)
        : server_(server), reply_(std::move(reply)), upstream_(std::move(upstream)), body_(std::move(body)),
          bandwidth_(reply_.bytesPerSecond ? reply_.bytesPerSecond : body_.bandwidth) {
        if (reply_.file)
            file_.open(*reply_.file, std::ios::binary);
    }

    // One call of httplib's content provider: false ends the answer and closes the connection.
    bool SendFrom(std::size_t offset, httplib::DataSink& sink) {
        if (body_.cut && offset >= *body_.cut) {
            if (reply_.resetAtCut)
                ResetConnection(body_.localPort, body_.remotePort);
            return false;
        }
        if (offset >= body_.length) {
            sink.done();
            return true;
        }
        std::size_t count = std::min(body_.length - offset, ChunkSize());
        if (body_.cut)
            count = std::min(count, *body_.cut - offset);
        if (const std::optional<Clock::time_point> due = DueTime(offset, offset + count);
            due && !server_.Wait(*due - Clock::now()))
            return false;
        const std::string piece = Read(body_.first + offset, count);
        if (piece.empty())
            return false;
        // Counted before the client can read them, so that it never sees a count short of what it has.
        server_.CountSent(body_.path, piece.size());
        if (!sink.write(piece.data(), piece.size()))
            return false;
        if (offset + piece.size() == body_.length && reply_.extraBytes > 0) {
            const std::string extra(reply_.extraBytes, 'X');
            server_.CountSent(body_.path, extra.size());
            sink.write(extra.data(), extra.size());
        }
        return true;
    }

private:
    std::size_t ChunkSize() const {
        if (reply_.drip.count() > 0)
            return 1;
        return bandwidth_ == 0 ? kChunk : std::clamp<std::size_t>(bandwidth_ / 20, 1024, kChunk);
    }

    // When the piece from offset to end may go out: the bytes of a drip one interval apart, those of
    // a limited bandwidth at its pace, others at once.
    std::optional<Clock::time_point> DueTime(std::size_t offset, std::size_t end) const {
        if (reply_.drip.count() > 0)
            return start_ + reply_.drip * static_cast<std::chrono::milliseconds::rep>(offset);
        if (bandwidth_ == 0)
            return std::nullopt;
        const double seconds = static_cast<double>(end) / static_cast<double>(bandwidth_);
        return start_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    }

    // Up to count bytes from byte `position` of the body (the upstream's come in order).
    std::string Read(std::size_t position, std::size_t count) {
        if (upstream_)
            return upstream_->Take(count);
        if (!reply_.file) {
            std::string piece = position < reply_.body.size() ? reply_.body.substr(position, count) : std::string();
            piece.resize(count, ' ');
            return piece;
        }
        std::string piece(count, '\0');
        file_.seekg(static_cast<std::streamoff>(position));
        file_.read(piece.data(), static_cast<std::streamsize>(count));
        piece.resize(static_cast<std::size_t>(file_.gcount()));
        return piece;
    }

    UpdateServer& server_;
    Reply reply_;
    std::shared_ptr<Upstream> upstream_;
    Outgoing body_;
    std::size_t bandwidth_;
    std::ifstream file_;
    Clock::time_point start_ = Clock::now();
};

UpdateServer::UpdateServer(int port, const TlsIdentity& identity)
    : UpdateServer(port, std::make_unique<httplib::SSLServer>(identity.certificate.c_str(),
                                                              identity.privateKey.c_str())) {}

UpdateServer::UpdateServer(int port) : UpdateServer(port, std::make_unique<httplib::Server>()) {}

UpdateServer::UpdateServer(int port, std::unique_ptr<httplib::Server> server)
    : port_(port), secure_(dynamic_cast<httplib::SSLServer*>(server.get()) != nullptr), server_(std::move(server)) {
    if (!server_->is_valid())
        throw std::runtime_error("the update server's TLS identity cannot be loaded");
    // Stalled answers each hold a worker: keep plenty.
    server_->new_task_queue = [] { return new httplib::ThreadPool(32); };
    // httplib's default also sets SO_REUSEPORT, which would let a second server share the port.
    server_->set_socket_options([](int sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // One request per connection: every fetch is a connection of its own, and no idle connection
    // keeps the server from stopping.
    server_->set_keep_alive_max_count(1);
    server_->set_write_timeout(std::chrono::seconds(30));
    const auto handle = [this](const httplib::Request& request, httplib::Response& response) {
        ReceivedRequest received{request.method, request.path, request.target, {}, Clock::now()};
        for (const auto& [name, value] : request.headers)
            received.headers.emplace_back(name, value);
        Record(std::move(received));
        // Bodies go out byte for byte as scripted: httplib would compress text for a client that
        // accepts it, and cut any answer to the range asked for, whatever its status. The request is
        // httplib's own mutable object, handed over as const.
        auto& parsed = const_cast<httplib::Request&>(request);
        parsed.headers.erase("Accept-Encoding");
        parsed.ranges.clear();
        Answer(request, response);
    };
    server_->Get(".*", handle);
    // httplib answers a Range header it cannot parse with a bare 416 before any route has matched:
    // such a request is recorded and answered like any other.
    server_->set_error_handler(
        httplib::Server::HandlerWithResponse([handle](const httplib::Request& request, httplib::Response& response) {
            if (response.status != 416 || !request.matches.empty())
                return httplib::Server::HandlerResponse::Unhandled;
            handle(request, response);
            return httplib::Server::HandlerResponse::Handled;
        }));
    Set("/support.htm", Reply::Page("<html><head><title>Support Lumoradex</title></head><body>Support</body></html>"));
    if (!server_->bind_to_port("127.0.0.1", port))
        throw std::runtime_error("the update server cannot listen on 127.0.0.1:" + std::to_string(port));
    listener_ = std::thread([this] { server_->listen_after_bind(); });
    // httplib's stop() does nothing until the listening loop runs: a server stopped before would
    // keep its listener blocked in accept() for ever.
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!server_->is_running() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!server_->is_running()) {
        server_->stop();
        listener_.join();
        throw std::runtime_error("the update server did not start on port " + std::to_string(port));
    }
}

UpdateServer::~UpdateServer() {
    Stop();
}

void UpdateServer::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    server_->stop();
    if (listener_.joinable())
        listener_.join();
}

std::string UpdateServer::BaseUrl() const {
    // Over TLS, the name the test certificates carry.
    return secure_ ? "https://localhost:" + std::to_string(port_) : "http://127.0.0.1:" + std::to_string(port_);
}

void UpdateServer::Answer(const httplib::Request& request, httplib::Response& response) {
    std::optional<Served> served = NextReply(request.path);
    if (!served) {
        std::optional<std::string> upstream;
        {
            std::lock_guard lock(mutex_);
            upstream = upstream_;
        }
        if (upstream) {
            Forward(request, response, *upstream);
            return;
        }
        served = Served{Reply::Status(404), {}};
    }
    Reply& reply = served->reply;
    if (reply.delay.count() > 0 && !Wait(reply.delay))
        return;
    if (reply.stall) {
        Wait(Clock::duration::max());
        return;
    }
    Outgoing body{.path = request.path, .localPort = request.local_port, .remotePort = request.remote_port};
    if (reply.headerDrip.count() > 0 || reply.endlessHeaders) {
        // Raw bytes on a TLS connection would only break the TLS framing, not the headers.
        if (secure_) {
            response.status = 500;
            Reply page = Reply::Status(500);
            body.length = page.body.size();
            Send(response, std::move(page), nullptr, std::move(body));
        } else {
            SendRaw(reply, request.local_port, request.remote_port);
        }
        return;
    }
    response.status = reply.status;
    for (const auto& [name, value] : reply.headers)
        response.set_header(name, value);
    body.length = BodySize(reply);
    if (reply.status == 200 && !reply.cutAfter && reply.extraBytes == 0 && !reply.chunked && reply.drip.count() == 0 &&
        reply.paddedTo == 0)
        ApplyRange(request, response, *served, body);
    Send(response, std::move(served->reply), nullptr, std::move(body));
}

void UpdateServer::ApplyRange(const httplib::Request& request, httplib::Response& response, Served& served,
                              Outgoing& body) {
    const Validators current = ValidatorsOf(served.reply, served.modified);
    response.set_header("ETag", current.etag);
    response.set_header("Last-Modified", current.lastModified);
    {
        std::lock_guard lock(mutex_);
        if (ignoreRanges_)
            return;
    }
    response.set_header("Accept-Ranges", "bytes");
    // An If-Range that does not match means the client's copy is of another body: it gets this one whole.
    if (!request.has_header("Range") ||
        (request.has_header("If-Range") && !IfRangeHolds(request.get_header_value("If-Range"), current)))
        return;
    const RangeAsked asked = ParseRange(request.get_header_value("Range"), body.length);
    if (asked.kind == RangeAsked::kWhole)
        return;
    if (asked.kind == RangeAsked::kUnsatisfiable) {
        response.status = 416;
        response.set_header("Content-Range", "bytes */" + std::to_string(body.length));
        served.reply = Reply::Status(416);
        body.length = served.reply.body.size();
        return;
    }
    response.status = 206;
    response.set_header("Content-Range", "bytes " + std::to_string(asked.first) + "-" + std::to_string(asked.end - 1) +
                                             "/" + std::to_string(body.length));
    body.first = static_cast<std::size_t>(asked.first);
    body.length = static_cast<std::size_t>(asked.end - asked.first);
}

void UpdateServer::Forward(const httplib::Request& request, httplib::Response& response, const std::string& upstream) {
    bool ignoreRanges = false;
    {
        std::lock_guard lock(mutex_);
        ignoreRanges = ignoreRanges_;
    }
    httplib::Headers headers{{"Accept-Encoding", "identity"}};
    for (const char* name : {"Range", "If-Range"})
        if (!ignoreRanges && request.has_header(name))
            headers.emplace(name, request.get_header_value(name));
    auto source = std::make_shared<Upstream>(*this, upstream, request.target, std::move(headers));
    const std::optional<Upstream::Head> head = source->WaitForHead();
    Outgoing body{.path = request.path, .localPort = request.local_port, .remotePort = request.remote_port};
    // Only bodies of announced length are relayed, as a static file's always is.
    if (!head || !head->headers.contains("Content-Length")) {
        response.status = 502;
        Reply page = Reply::Status(502);
        body.length = page.body.size();
        Send(response, std::move(page), nullptr, std::move(body));
        return;
    }
    response.status = head->status;
    for (const char* name : {"Content-Range", "ETag", "Last-Modified", "Accept-Ranges"}) {
        const auto found = head->headers.find(name);
        if (found != head->headers.end() && !(ignoreRanges && std::string_view(name) == "Accept-Ranges"))
            response.set_header(name, found->second);
    }
    body.length = std::stoull(head->headers.find("Content-Length")->second);
    if (const auto range = head->headers.find("Content-Range"); head->status == 206 && range != head->headers.end())
        body.first = std::stoull(range->second.substr(range->second.find_first_of("0123456789")));
    Reply relayed;
    if (const auto type = head->headers.find("Content-Type"); type != head->headers.end())
        relayed.contentType = type->second;
    Send(response, std::move(relayed), std::move(source), std::move(body));
}

void UpdateServer::Send(httplib::Response& response, Reply reply, std::shared_ptr<Upstream> upstream, Outgoing body) {
    {
        std::lock_guard lock(mutex_);
        body.cut = reply.cutAfter;
        const auto cutAt = [&body](std::size_t bytes) { body.cut = std::min(body.cut.value_or(bytes), bytes); };
        // A file is cut at its offset, an error page of its path never.
        if (const auto cut = cuts_.find(body.path);
            cut != cuts_.end() && (response.status == 200 || response.status == 206) &&
            body.first <= cut->second.offset && cut->second.offset < body.first + body.length) {
            cutAt(cut->second.offset - body.first);
            if (--cut->second.times == 0)
                cuts_.erase(cut);
        }
        if (const auto limit = limits_.find(body.path); limit != limits_.end())
            cutAt(limit->second);
        if (limitAll_ > 0)
            cutAt(limitAll_);
        body.bandwidth = bandwidth_;
    }
    const std::string contentType = reply.contentType;
    // An empty body goes out as it is: a content provider of no length would drop Content-Length.
    if (body.length == 0 && !reply.chunked && reply.extraBytes == 0) {
        response.set_content(std::string(), contentType);
        return;
    }
    const bool chunked = reply.chunked;
    const std::size_t length = body.length;
    auto responder = std::make_shared<Responder>(*this, std::move(reply), std::move(upstream), std::move(body));
    if (chunked) {
        response.set_chunked_content_provider(contentType, [responder](std::size_t offset, httplib::DataSink& sink) {
            return responder->SendFrom(offset, sink);
        });
    } else {
        response.set_content_provider(length, contentType,
                                      [responder](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                          return responder->SendFrom(offset, sink);
                                      });
    }
}

void UpdateServer::Set(const std::string& path, Reply reply) {
    SetSequence(path, {std::move(reply)});
}

void UpdateServer::SetSequence(const std::string& path, std::vector<Reply> replies) {
    if (replies.empty())
        throw std::invalid_argument("a reply sequence needs at least one reply");
    std::lock_guard lock(mutex_);
    scripts_[path] = Script{std::move(replies), 0};
    // A second past the last date at least, so that an If-Range with the old date never matches.
    const std::chrono::system_clock::time_point now =
        std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    if (const auto [date, first] = modified_.try_emplace(path, now); !first)
        date->second = std::max(now, date->second + std::chrono::seconds(1));
}

void UpdateServer::SetVersionPage(std::string_view version) {
    Set("/version.htm", Reply::Page(VersionPage(version)));
}

void UpdateServer::SetFile(const std::string& name, std::string bytes) {
    Set("/majv4/" + name, Reply::Ok(std::move(bytes)));
}

void UpdateServer::Remove(const std::string& path) {
    std::lock_guard lock(mutex_);
    scripts_.erase(path);
}

void UpdateServer::ServeFolder(fs::path folder) {
    std::lock_guard lock(mutex_);
    folder_ = fs::absolute(std::move(folder));
}

void UpdateServer::SetBandwidth(std::size_t bytesPerSecond) {
    std::lock_guard lock(mutex_);
    bandwidth_ = bytesPerSecond;
}

void UpdateServer::ProxyTo(std::string upstreamBaseUrl) {
    std::lock_guard lock(mutex_);
    upstream_ = std::move(upstreamBaseUrl);
}

void UpdateServer::CutAt(const std::string& path, std::size_t fileOffset, int times) {
    if (times < 1)
        throw std::invalid_argument("a cut applies to one answer at least");
    std::lock_guard lock(mutex_);
    cuts_[path] = Cut{fileOffset, times};
}

void UpdateServer::LimitAnswerBytes(const std::string& path, std::size_t bytes) {
    std::lock_guard lock(mutex_);
    if (bytes == 0)
        limits_.erase(path);
    else
        limits_[path] = bytes;
}

void UpdateServer::LimitAnswerBytes(std::size_t bytes) {
    std::lock_guard lock(mutex_);
    limitAll_ = bytes;
}

void UpdateServer::IgnoreRanges(bool ignore) {
    std::lock_guard lock(mutex_);
    ignoreRanges_ = ignore;
}

std::vector<ReceivedRequest> UpdateServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

int UpdateServer::RequestCount(std::string_view path) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(requests_.begin(), requests_.end(),
                                          [&](const ReceivedRequest& request) { return request.path == path; }));
}

bool UpdateServer::WaitForRequests(std::string_view path, int count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        return std::count_if(requests_.begin(), requests_.end(),
                             [&](const ReceivedRequest& request) { return request.path == path; }) >= count;
    });
}

void UpdateServer::ClearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

std::size_t UpdateServer::BodyBytesSent(std::string_view path) const {
    std::lock_guard lock(mutex_);
    const auto found = sent_.find(path);
    return found == sent_.end() ? 0 : found->second;
}

std::optional<UpdateServer::Served> UpdateServer::NextReply(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (auto found = scripts_.find(path); found != scripts_.end()) {
        Script& script = found->second;
        const Reply& reply = script.replies[std::min(script.next, script.replies.size() - 1)];
        ++script.next;
        return Served{reply, modified_.at(path)};
    }
    if (!folder_ || upstream_)
        return std::nullopt;
    const fs::path file = (*folder_ / fs::path(path).relative_path()).lexically_normal();
    const auto [end, ignored] = std::mismatch(folder_->begin(), folder_->end(), file.begin(), file.end());
    std::error_code error;
    if (end != folder_->end() || !fs::is_regular_file(file, error))
        return std::nullopt;
    return Served{Reply::FromFile(file), {}};
}

void UpdateServer::CountSent(const std::string& path, std::size_t bytes) {
    std::lock_guard lock(mutex_);
    sent_[path] += bytes;
}

void UpdateServer::Record(ReceivedRequest request) {
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(request));
    }
    changed_.notify_all();
}

// httplib's own answer, written once the handler returns, goes to the unconnected socket that took
// the connection's place: the client sees the raw bytes only.
void UpdateServer::SendRaw(const Reply& reply, int localPort, int remotePort) const {
    const int fd = FindConnection(localPort, remotePort);
    if (fd < 0)
        return;
    if (reply.endlessHeaders) {
        std::size_t line = 0;
        for (bool open = Write(fd, "HTTP/1.1 200 OK\r\n"); open;) {
            std::string block;
            while (block.size() < kChunk)
                block += "X-Filler-" + std::to_string(line++) + ": " + std::string(100, 'f') + "\r\n";
            open = Write(fd, block);
        }
    } else {
        const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(reply.body.size()) +
                                   "\r\nConnection: close\r\n\r\n" + reply.body;
        const Clock::time_point start = Clock::now();
        for (std::size_t i = 0; i < answer.size(); ++i) {
            const Clock::time_point due = start + reply.headerDrip * static_cast<std::chrono::milliseconds::rep>(i);
            if (!Wait(due - Clock::now()) || !Write(fd, std::string_view(answer).substr(i, 1)))
                break;
        }
    }
    CloseConnection(fd);
}

// The socket's own write time-out would hold a stopping server up to 30 s behind a client that reads
// nothing: the writer waits for room in short polls instead, and looks at the stop between them.
bool UpdateServer::Write(int fd, std::string_view bytes) const {
    while (!bytes.empty()) {
        if (!Wait(Clock::duration::zero()))
            return false;
        pollfd writable{fd, POLLOUT, 0};
        const int ready = poll(&writable, 1, 100);
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready <= 0)
            continue;
        const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (sent > 0)
            bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

bool UpdateServer::Wait(Clock::duration duration) const {
    std::unique_lock lock(mutex_);
    if (duration == Clock::duration::max()) {
        changed_.wait(lock, [this] { return stopping_; });
        return false;
    }
    return !changed_.wait_for(lock, duration, [this] { return stopping_; });
}

} // namespace lumoradex::e2e
