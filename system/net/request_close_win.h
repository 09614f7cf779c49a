#pragma once
// Closing a WinINet request whose answer was not read to its end (a body past its limit, an error
// page, a redirect). Windows discards the unread data; Wine's WinINet first reads it, for as long as
// the server keeps it coming without a pause, so a server streaming without end would hold the
// program for ever. The request is closed on a thread of its own, waited for a moment only: a close
// with nothing left to read ends within it, one that drains goes on alone until the server stops.
// Its connection and session go with it, on the same thread: WinINet does not guard a parent's
// list of children against a child being closed at the same moment on another thread.

#include <windows.h>
#include <wininet.h>

namespace lumoradex {

// A session with its one connection and request; null for those not opened.
struct RequestHandles {
    HINTERNET session = nullptr;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;
};

// The request first, then its connection, then its session.
void CloseRequestHandles(decltype(&InternetCloseHandle) close, const RequestHandles& handles) noexcept;

} // namespace lumoradex
