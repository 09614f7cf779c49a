#include "system/net/async_request_win.h"

#include <algorithm>
#include <array>
#include <atomic>

#include "base/unique_handle_win.h"
#include "base/wide_text_win.h"
#include "system/net/wininet_api_win.h"

namespace lumoradex {

// Every request asks the server again, and no answer (error pages and cut bodies included) is
// written into the cache for a later request to find. Redirects are followed by the transfer, by
// the rule of http_address.h, not by WinINet. Over TLS the certificate is checked fully: no flag
// relaxes it.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI |
                                INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTO_REDIRECT;

// What the status callback shares with the thread that waits. WinINet may still complete an
// operation into it after an abandoned request's handles are closed, so it is freed only once the
// caller and both handles given it as their context (connection and request) are done with it:
// WinINet's last word on a handle is INTERNET_STATUS_HANDLE_CLOSING.
struct RequestState {
    std::atomic<int> holders{1};
    UniqueKernelHandle completed{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    DWORD_PTR result = 0;
    DWORD error = ERROR_SUCCESS;
    DWORD available = 0;
    INTERNET_BUFFERSW buffers{};
    std::array<std::byte, kLargestRead> bytes{};
};

namespace {

void Release(RequestState* state) noexcept {
    if (state->holders.fetch_sub(1) == 1)
        delete state;
}

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, void* information, DWORD) {
    auto* state = reinterpret_cast<RequestState*>(context);
    if (state == nullptr)
        return;
    if (status == INTERNET_STATUS_REQUEST_COMPLETE) {
        const auto* outcome = static_cast<const INTERNET_ASYNC_RESULT*>(information);
        state->result = outcome->dwResult;
        state->error = outcome->dwError;
        SetEvent(state->completed.Get());
    } else if (status == INTERNET_STATUS_HANDLE_CLOSING) {
        Release(state);
    }
}

// Time-outs set on the session handle are ignored under Wine: they are set on the connection and
// the request. They only back up the deadlines, which are the program's own.
bool SetTimeouts(const WinInetApi& api, HINTERNET handle, DWORD milliseconds) {
    bool set = true;
    for (DWORD option :
         {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
        set = api.setOption(handle, option, &milliseconds, sizeof milliseconds) && set;
    return set;
}

DWORD MillisecondsUntil(TransferClock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TransferClock::now()).count();
    return static_cast<DWORD>(std::clamp<decltype(left)>(left, 0, INFINITE - 1));
}

} // namespace

// Each request has a session of its own, so that nothing outlives its close.
AsyncRequest::AsyncRequest(const WinInetApi& api, const HttpAddress& address, DWORD receiveTimeout)
    : api_(api), state_(new RequestState) {
    if (!state_->completed)
        return;
    handles_.session = api.open(L"MAJLumoradex", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC);
    if (handles_.session == nullptr ||
        api.setStatusCallback(handles_.session, OnStatus) == INTERNET_INVALID_STATUS_CALLBACK)
        return;
    const auto context = reinterpret_cast<DWORD_PTR>(state_);
    handles_.connection = OpenWithState(api.connect(handles_.session, Widen(address.host).c_str(), address.port,
                                                    nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, context));
    if (handles_.connection == nullptr || !SetTimeouts(api, handles_.connection, receiveTimeout))
        return;
    const DWORD flags = kRequestFlags | (address.secure ? INTERNET_FLAG_SECURE : 0);
    handles_.request = OpenWithState(api.openRequest(handles_.connection, L"GET", Widen(address.path).c_str(), nullptr,
                                                     nullptr, nullptr, flags, context));
    opened_ = handles_.request != nullptr && SetTimeouts(api, handles_.request, receiveTimeout);
}

AsyncRequest::~AsyncRequest() {
    if (sent_ && !bodyEnded_)
        wine_.EndConnections();
    CloseRequestHandles(api_.close, handles_);
    Release(state_);
}

// A handle opened with the state as its context holds it until WinINet closes the handle.
HINTERNET AsyncRequest::OpenWithState(HINTERNET handle) noexcept {
    if (handle != nullptr)
        ++state_->holders;
    return handle;
}

// A header wait is also given up once header lines have grown the process too much: WinINet stores
// them all and tells nothing of them until the last (system/net/wine_abandoned_request_win.h).
bool AsyncRequest::Completed(BOOL doneAtOnce, Deadline deadline, bool awaitingHeaders) {
    if (doneAtOnce)
        return true;
    if (GetLastError() != ERROR_IO_PENDING)
        return false;
    if (awaitingHeaders)
        wine_.HeadersAwaited();
    for (;;) {
        DWORD wait = deadline ? MillisecondsUntil(*deadline) : INFINITE;
        if (awaitingHeaders)
            wait = wine_.UntilNextSample(wait);
        const DWORD outcome = WaitForSingleObject(state_->completed.Get(), wait);
        if (outcome == WAIT_OBJECT_0)
            return state_->result != 0;
        if (outcome != WAIT_TIMEOUT || (deadline && TransferClock::now() >= *deadline))
            return false;
        if (awaitingHeaders && wine_.HeadersPastLimit())
            return false;
    }
}

bool AsyncRequest::ReceiveHeaders(Deadline deadline, const std::wstring& extraHeaders) {
    if (!opened_)
        return false;
    sent_ = true;
    extraHeaders_ = extraHeaders;
    const BOOL sent = api_.sendRequest(handles_.request, extraHeaders_.empty() ? nullptr : extraHeaders_.c_str(),
                                       static_cast<DWORD>(extraHeaders_.size()), nullptr, 0);
    return Completed(sent, deadline, true);
}

// A read of what has arrived takes, however large the buffer, the bytes WinINet holds and those that
// wait in the connection. When nothing has arrived, Wine's WinINet answers it by waiting for the next
// bytes without reading them: the read is made again once they are there. A read that ends with no
// bytes is the end of the body only if WinINet, asked how much has arrived, says so at once; else it
// waits (for the next bytes only) and the read is made again.
std::optional<std::span<const std::byte>> AsyncRequest::Read(std::size_t size, Deadline deadline) {
    RequestState& state = *state_;
    const auto context = reinterpret_cast<DWORD_PTR>(state_);
    for (;;) {
        state.buffers = {};
        state.buffers.dwStructSize = sizeof state.buffers;
        state.buffers.lpvBuffer = state.bytes.data();
        state.buffers.dwBufferLength = static_cast<DWORD>(std::min(size, state.bytes.size()));
        if (!api_.readFileEx(handles_.request, &state.buffers, IRF_NO_WAIT, context)) {
            if (!Completed(FALSE, deadline, false))
                return std::nullopt;
            continue;
        }
        if (state.buffers.dwBufferLength > 0)
            return std::span<const std::byte>(state.bytes.data(), state.buffers.dwBufferLength);
        if (api_.queryDataAvailable(handles_.request, &state.available, 0, 0)) {
            if (state.available == 0) {
                bodyEnded_ = true;
                return std::span<const std::byte>{};
            }
        } else if (!Completed(FALSE, deadline, false)) {
            return std::nullopt;
        }
    }
}

} // namespace lumoradex
