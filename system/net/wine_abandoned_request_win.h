#pragma once
// Wine's WinINet goes on with a request after its handles are closed: it reads an answer's header
// lines for as long as a server sends them, storing every one, or drains its body, on a thread of its
// own until the server stops. A request therefore gives its header wait up once the process has grown
// too much, and a request given up has its connection ended before its handles are closed. The
// program runs one transfer at a time and has no other TCP connection, so every connected socket of
// the process is one to end.

#include <windows.h>

#include <cstdint>

namespace lumoradex {

class WineAbandonedRequest {
public:
    // The header wait begins: the process's memory now is what HeadersPastLimit compares with.
    void HeadersAwaited() noexcept;
    // The header wait's next sleep: the given one, cut short when a memory sample is due first.
    DWORD UntilNextSample(DWORD wait) const noexcept;
    // Whether the process has grown by 16 MiB since HeadersAwaited.
    bool HeadersPastLimit() const noexcept;
    // Before the handles of a request given up are closed: shuts down every connection of the process.
    void EndConnections() const noexcept;

private:
    std::uint64_t memoryAtStart_ = 0;
};

} // namespace lumoradex
