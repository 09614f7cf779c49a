#include "system/net/request_close_win.h"

#include <memory>
#include <new>
#include <utility>

#include "base/unique_handle_win.h"

namespace lumoradex {
namespace {

constexpr DWORD kCloseWaitMilliseconds = 250;
// The thread only calls into WinINet: a small stack will do.
constexpr SIZE_T kCloserStackSize = 64 * 1024;

struct PendingClose {
    decltype(&InternetCloseHandle) close;
    RequestHandles handles;
    UniqueLibrary wininet; // kept loaded while the close runs, however long the caller has gone on
};

void CloseInOrder(decltype(&InternetCloseHandle) close, const RequestHandles& handles) noexcept {
    for (HINTERNET handle : {handles.request, handles.connection, handles.session})
        if (handle != nullptr)
            close(handle);
}

DWORD WINAPI CloseOnItsOwn(void* parameter) {
    const std::unique_ptr<PendingClose> pending(static_cast<PendingClose*>(parameter));
    CloseInOrder(pending->close, pending->handles);
    return 0;
}

// False when no thread could be started, the handles still open.
bool CloseOnAThread(decltype(&InternetCloseHandle) close, const RequestHandles& handles) noexcept {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(close), &module))
        return false;
    UniqueLibrary wininet(module);
    std::unique_ptr<PendingClose> pending(new (std::nothrow) PendingClose{close, handles, std::move(wininet)});
    if (!pending)
        return false;
    const UniqueKernelHandle closer(CreateThread(nullptr, kCloserStackSize, CloseOnItsOwn, pending.get(),
                                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!closer)
        return false;
    pending.release();
    WaitForSingleObject(closer.Get(), kCloseWaitMilliseconds);
    return true;
}

} // namespace

void CloseRequestHandles(decltype(&InternetCloseHandle) close, const RequestHandles& handles) noexcept {
    if (!CloseOnAThread(close, handles))
        CloseInOrder(close, handles);
}

} // namespace lumoradex
