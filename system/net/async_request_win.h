#pragma once
// One GET request over an asynchronous WinINet session, each of its steps waited for on the
// program's own clock: whatever a server does with its headers or its body, no step holds the caller
// past the deadline it gives. Reads take what has arrived, up to 64 KiB, without waiting for more.
// A request not read to its end is given up as it closes: its connection ended, for Wine's WinINet
// (system/net/wine_abandoned_request_win.h), its handles closed on the closing thread
// (system/net/request_close_win.h).

#include <windows.h>
#include <wininet.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "system/net/http_address.h"
#include "system/net/request_close_win.h"
#include "system/net/transfer_limits.h"
#include "system/net/wine_abandoned_request_win.h"

namespace lumoradex {

struct WinInetApi;
struct RequestState;

inline constexpr std::size_t kLargestRead = 64 * 1024;

class AsyncRequest {
public:
    using Deadline = std::optional<TransferClock::time_point>;

    // A session, a connection and the request; Opened() is false when any of them fails.
    AsyncRequest(const WinInetApi& api, const HttpAddress& address, DWORD receiveTimeout);
    AsyncRequest(const AsyncRequest&) = delete;
    AsyncRequest& operator=(const AsyncRequest&) = delete;
    ~AsyncRequest();

    bool Opened() const { return opened_; }
    // For HttpQueryInfo once the headers are in.
    HINTERNET Handle() const { return handles_.request; }

    // Sends the request, with extra header lines if any (each ended by CRLF), and waits for the answer's headers (over TLS: a certificate that passes
    // every check). False on any failure, past the deadline, or once the process's memory has grown
    // by 16 MiB meanwhile: WinINet stores every header line it is sent, and tells
    // nothing of them until the last.
    bool ReceiveHeaders(Deadline deadline, const std::wstring& extraHeaders);
    // The bytes of the body that have arrived, at least one and at most size (up to kLargestRead);
    // none at its end; nothing when the read fails or the deadline passes first. They stay valid
    // until the next read.
    std::optional<std::span<const std::byte>> Read(std::size_t size, Deadline deadline);
    // The body has been read to the length the server announced: nothing is given up at the close
    // (ending the process's connections takes a scan of its handles, tens of milliseconds).
    void TakenToItsLength() { bodyEnded_ = true; }

private:
    HINTERNET OpenWithState(HINTERNET handle) noexcept;
    // Whether the operation just started, done at once or pending, succeeded before the deadline.
    bool Completed(BOOL doneAtOnce, Deadline deadline, bool awaitingHeaders);

    const WinInetApi& api_;
    RequestHandles handles_;
    RequestState* state_;
    WineAbandonedRequest wine_;
    std::wstring extraHeaders_; // held while the request is sent
    bool opened_ = false;
    bool sent_ = false;
    bool bodyEnded_ = false;
};

} // namespace lumoradex
