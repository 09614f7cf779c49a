#include "system/net/wine_abandoned_request_win.h"

#include <psapi.h>
#include <winsock2.h>

#include <algorithm>

#include "base/system_library_win.h"

namespace lumoradex {
namespace {

// The program's own growth while it waits for headers stays far below this: a few MiB of buffers.
// Header lines without end grow it by as much as they bring: tens of MiB a second under Wine 8, where
// a plain WinINet program reached 180 MiB after 3 s and 810 MiB after 23 s. Sampled every 50 ms, the
// limit had the updater give such an answer up after 1.1 s, at 38 MiB at its peak (BENCHMARKS.md).
constexpr std::uint64_t kHeaderGrowthLimit = 16 * 1024 * 1024;
constexpr DWORD kMemorySampleMilliseconds = 50;

// Handle values are multiples of 4; a process's handles lie far below this.
constexpr UINT_PTR kLastHandleValue = 1 << 20;
// Where the process's handles are not counted: Wine gives out the lowest free handle value, so its
// handles lie close together and this many unused values in a row are past the last. Each probe is
// a call to the wineserver (about 40 us): the whole range would take seconds.
constexpr UINT_PTR kUnusedValuesPastTheLast = 1024;

struct WinsockApi {
    template <class Function> Function Procedure(const char* name) const {
        return SystemProcedure<Function>(library.Get(), name);
    }

    UniqueLibrary library = LoadSystemLibrary(L"ws2_32.dll");
    decltype(&WSAStartup) startup = Procedure<decltype(&WSAStartup)>("WSAStartup");
    decltype(&WSACleanup) cleanup = Procedure<decltype(&WSACleanup)>("WSACleanup");
    decltype(&getsockopt) getOption = Procedure<decltype(&getsockopt)>("getsockopt");
    decltype(&getpeername) peerName = Procedure<decltype(&getpeername)>("getpeername");
    decltype(&shutdown) shutDown = Procedure<decltype(&shutdown)>("shutdown");
};

bool IsConnectedStreamSocket(const WinsockApi& winsock, SOCKET candidate) {
    int type = 0;
    int size = sizeof type;
    if (winsock.getOption(candidate, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &size) != 0 ||
        type != SOCK_STREAM)
        return false;
    sockaddr_storage peer{};
    int peerSize = sizeof peer;
    return winsock.peerName(candidate, reinterpret_cast<sockaddr*>(&peer), &peerSize) == 0;
}

// The process's commit charge: its private memory, the heap's included (under Wine, PrivateUsage
// does not follow the heap).
std::uint64_t PrivateBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return counters.PagefileUsage;
}

} // namespace

// Measured under Wine 8 against a server sending header lines without end: neither WinINet nor
// WinHTTP bounds response headers, and WinINet reports one INTERNET_STATUS_RECEIVING_RESPONSE, then
// nothing until the last line. Only the process's memory shows them coming.
void WineAbandonedRequest::HeadersAwaited() noexcept {
    memoryAtStart_ = PrivateBytes();
}

DWORD WineAbandonedRequest::UntilNextSample(DWORD wait) const noexcept {
    return std::min(wait, kMemorySampleMilliseconds);
}

bool WineAbandonedRequest::HeadersPastLimit() const noexcept {
    return PrivateBytes() > memoryAtStart_ + kHeaderGrowthLimit;
}

// Given header lines without end, a plain WinINet program grew past 140 MiB within 8 s and went on
// growing once its request handle was closed; shutting the socket down (shutdown(SD_BOTH)) failed
// the pending request at once (10058) and the process fell back to 4 MiB. Winsock offers no list of
// a process's sockets: each handle of the process is asked whether it is one (any other kind of
// handle answers WSAENOTSOCK). A shutdown, unlike a close, leaves the handle to its owner, so no
// handle value is ever freed under the library's feet. The scan ends once every handle the process
// counts has been seen; Wine counts none (GetProcessHandleCount gives 0), and with 41 handles in
// use the scan takes 40 ms there: a request read to its announced length is spared it.
void WineAbandonedRequest::EndConnections() const noexcept {
    try {
        const WinsockApi winsock;
        WSADATA data{};
        if (winsock.startup(MAKEWORD(2, 2), &data) != 0)
            return;
        DWORD handleCount = 0;
        GetProcessHandleCount(GetCurrentProcess(), &handleCount);
        const bool counted = handleCount > 0;
        DWORD seen = 0;
        UINT_PTR lastUsed = 0;
        for (UINT_PTR value = 4;
             value < kLastHandleValue && (counted || value - lastUsed <= 4 * kUnusedValuesPastTheLast); value += 4) {
            DWORD flags = 0;
            if (!GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
                continue;
            lastUsed = value;
            if (IsConnectedStreamSocket(winsock, static_cast<SOCKET>(value)))
                winsock.shutDown(static_cast<SOCKET>(value), SD_BOTH);
            if (++seen == handleCount)
                break;
        }
        winsock.cleanup();
    } catch (...) {
        // Only loading ws2_32 throws, and a request's close lets nothing escape.
    }
}

} // namespace lumoradex
