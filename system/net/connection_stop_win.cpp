#include "system/net/connection_stop_win.h"

#include <windows.h>
#include <winsock2.h>

#include "base/system_library_win.h"

namespace lumoradex {
namespace {

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

} // namespace

// Winsock offers no list of a process's sockets: each handle of the process is asked whether it is
// one (any other kind of handle answers WSAENOTSOCK). A shutdown, unlike a close, leaves the handle
// to its owner, so no handle value is ever freed under the library's feet. The scan ends once every
// handle the process counts has been seen; Wine counts none (GetProcessHandleCount gives 0).
void StopOwnConnections() noexcept {
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
    }
}

} // namespace lumoradex
