#include "tests/e2e/update_server.h"

#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <stdexcept>

namespace lumoradex::e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kChunk = 64 * 1024;

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
    case 500:
        return "Internal Server Error";
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

// Sends one scripted body piece by piece: paced to the bandwidth limit or dripped, padded, cut, reset
// or lengthened as the reply says, and abandoned as soon as the server stops.
class UpdateServer::Responder {
public:
    Responder(const UpdateServer& server, Reply reply, std::size_t bandwidth, int localPort, int remotePort)
        : server_(server), reply_(std::move(reply)),
          bandwidth_(reply_.bytesPerSecond ? reply_.bytesPerSecond : bandwidth), localPort_(localPort),
          remotePort_(remotePort) {
        if (reply_.file) {
            file_.open(*reply_.file, std::ios::binary);
            size_ = static_cast<std::size_t>(fs::file_size(*reply_.file));
        } else {
            size_ = std::max(reply_.body.size(), reply_.paddedTo);
        }
    }

    std::size_t Size() const { return size_; }

    // One call of httplib's content provider: false ends the answer and closes the connection.
    bool SendFrom(std::size_t offset, httplib::DataSink& sink) {
        if (reply_.cutAfter && offset >= *reply_.cutAfter) {
            if (reply_.resetAtCut)
                ResetConnection(localPort_, remotePort_);
            return false;
        }
        if (offset >= size_) {
            sink.done();
            return true;
        }
        std::size_t count = std::min(size_ - offset, ChunkSize());
        if (reply_.cutAfter)
            count = std::min(count, *reply_.cutAfter - offset);
        if (const std::optional<Clock::time_point> due = DueTime(offset, offset + count);
            due && !server_.Wait(*due - Clock::now()))
            return false;
        std::string piece = Read(offset, count);
        if (!sink.write(piece.data(), piece.size()))
            return false;
        if (offset + count == size_ && reply_.extraBytes > 0) {
            const std::string extra(reply_.extraBytes, 'X');
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

    std::string Read(std::size_t offset, std::size_t count) {
        if (!reply_.file) {
            std::string piece = offset < reply_.body.size() ? reply_.body.substr(offset, count) : std::string();
            piece.resize(count, ' ');
            return piece;
        }
        std::string piece(count, '\0');
        file_.seekg(static_cast<std::streamoff>(offset));
        file_.read(piece.data(), static_cast<std::streamsize>(count));
        piece.resize(static_cast<std::size_t>(file_.gcount()));
        return piece;
    }

    const UpdateServer& server_;
    Reply reply_;
    std::size_t bandwidth_;
    int localPort_;
    int remotePort_;
    std::ifstream file_;
    std::size_t size_ = 0;
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
    server_->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        ReceivedRequest received{request.method, request.path, request.target, {}, Clock::now()};
        for (const auto& [name, value] : request.headers)
            received.headers.emplace_back(name, value);
        Record(std::move(received));
        // Bodies go out byte for byte as scripted: httplib would compress text for a client that
        // accepts it. The request is httplib's own mutable object, handed over as const.
        const_cast<httplib::Request&>(request).headers.erase("Accept-Encoding");

        std::optional<Reply> reply = NextReply(request.path);
        if (!reply) {
            response.status = 404;
            response.set_content(ErrorPage(404), "text/html");
            return;
        }
        if (reply->delay.count() > 0 && !Wait(reply->delay))
            return;
        if (reply->stall) {
            Wait(Clock::duration::max());
            return;
        }
        if (reply->headerDrip.count() > 0 || reply->endlessHeaders) {
            // Raw bytes on a TLS connection would only break the TLS framing, not the headers.
            if (secure_) {
                response.status = 500;
                response.set_content(ErrorPage(500), "text/html");
            } else {
                SendRaw(*reply, request.local_port, request.remote_port);
            }
            return;
        }
        response.status = reply->status;
        for (const auto& [name, value] : reply->headers)
            response.set_header(name, value);
        std::size_t bandwidth = 0;
        {
            std::lock_guard lock(mutex_);
            bandwidth = bandwidth_;
        }
        const bool plain = !reply->file && !reply->cutAfter && reply->extraBytes == 0 && !reply->chunked &&
                           reply->bytesPerSecond == 0 && bandwidth == 0 && reply->drip.count() == 0 &&
                           reply->paddedTo == 0;
        const std::string contentType = reply->contentType;
        if (plain) {
            response.set_content(reply->body, contentType);
            return;
        }
        const bool chunked = reply->chunked;
        auto responder =
            std::make_shared<Responder>(*this, std::move(*reply), bandwidth, request.local_port, request.remote_port);
        if (chunked) {
            response.set_chunked_content_provider(
                contentType,
                [responder](std::size_t offset, httplib::DataSink& sink) { return responder->SendFrom(offset, sink); });
        } else {
            response.set_content_provider(responder->Size(), contentType,
                                          [responder](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                              return responder->SendFrom(offset, sink);
                                          });
        }
    });
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

void UpdateServer::Set(const std::string& path, Reply reply) {
    SetSequence(path, {std::move(reply)});
}

void UpdateServer::SetSequence(const std::string& path, std::vector<Reply> replies) {
    if (replies.empty())
        throw std::invalid_argument("a reply sequence needs at least one reply");
    std::lock_guard lock(mutex_);
    scripts_[path] = Script{std::move(replies), 0};
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

std::optional<Reply> UpdateServer::NextReply(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (auto found = scripts_.find(path); found != scripts_.end()) {
        Script& script = found->second;
        const Reply& reply = script.replies[std::min(script.next, script.replies.size() - 1)];
        ++script.next;
        return reply;
    }
    if (!folder_)
        return std::nullopt;
    const fs::path file = (*folder_ / fs::path(path).relative_path()).lexically_normal();
    const auto [end, ignored] = std::mismatch(folder_->begin(), folder_->end(), file.begin(), file.end());
    std::error_code error;
    if (end != folder_->end() || !fs::is_regular_file(file, error))
        return std::nullopt;
    return Reply::FromFile(file);
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
