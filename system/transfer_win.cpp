#include "system/transfer_win.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/system_library_win.h"
#include "base/wide_text_win.h"
#include "base/win32_error_win.h"
#include "system/http_address.h"
#include "system/request_close_win.h"

namespace lumoradex {

// The WinINet procedures, taken from the system folder's wininet.dll rather than imported by name.
struct WinInetApi {
    template <class Function> Function Procedure(const char* name) const {
        return SystemProcedure<Function>(library.Get(), name);
    }

    UniqueLibrary library = LoadSystemLibrary(L"wininet.dll");
    decltype(&InternetOpenW) open = Procedure<decltype(&InternetOpenW)>("InternetOpenW");
    decltype(&InternetConnectW) connect = Procedure<decltype(&InternetConnectW)>("InternetConnectW");
    decltype(&InternetSetOptionW) setOption = Procedure<decltype(&InternetSetOptionW)>("InternetSetOptionW");
    decltype(&HttpOpenRequestW) openRequest = Procedure<decltype(&HttpOpenRequestW)>("HttpOpenRequestW");
    decltype(&HttpSendRequestW) sendRequest = Procedure<decltype(&HttpSendRequestW)>("HttpSendRequestW");
    decltype(&HttpQueryInfoW) queryInfo = Procedure<decltype(&HttpQueryInfoW)>("HttpQueryInfoW");
    decltype(&InternetQueryDataAvailable) queryDataAvailable =
        Procedure<decltype(&InternetQueryDataAvailable)>("InternetQueryDataAvailable");
    decltype(&InternetReadFile) readFile = Procedure<decltype(&InternetReadFile)>("InternetReadFile");
    decltype(&InternetCloseHandle) close = Procedure<decltype(&InternetCloseHandle)>("InternetCloseHandle");
};

namespace {

// Large reads: on loopback 64 KiB reads run about three times faster than 4 KiB ones.
constexpr std::size_t kChunkSize = 64 * 1024;

// Every request asks the server again, and no answer (error pages and cut bodies included) is
// written into the cache for a later request to find. Redirects are followed here, by the rule of
// http_address.h, not by WinINet. Over TLS the certificate is checked fully: no flag relaxes it.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI |
                                INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTO_REDIRECT;
// As many as a browser would follow before giving up on a loop.
constexpr int kMaxRedirects = 10;
constexpr DWORD kMaxLocationCharacters = 2048;

class BusyScope {
public:
    explicit BusyScope(bool& busy) : busy_(busy) { busy_ = true; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
    ~BusyScope() { busy_ = false; }

private:
    bool& busy_;
};

class TextSink final : public DownloadSink {
public:
    BodyPlan Expect(std::optional<std::uint64_t>) override { return {}; }
    void Write(const std::byte* data, std::size_t size) override {
        text.append(reinterpret_cast<const char*>(data), size);
    }
    void BetweenChunks() override {}

    std::string text;
};

// Time-outs set on the session handle are ignored under Wine, where a server that accepts and never
// answers would then block the request for ever: they are set on the connection and the request.
// The receive time-out bounds each wait for the server. Wine reads it once, as the connection
// opens, and ignores it when set later: it cannot shrink to what is left of a limit, so a limit
// passed during a wait shows when the wait ends, at worst one time-out late.
bool SetTimeouts(const WinInetApi& api, HINTERNET handle, DWORD milliseconds) {
    bool set = true;
    for (DWORD option :
         {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
        set = api.setOption(handle, option, &milliseconds, sizeof milliseconds) && set;
    return set;
}

std::optional<DWORD> StatusCode(const WinInetApi& api, HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!api.queryInfo(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return std::nullopt;
    return status;
}

bool IsRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::optional<std::string> Location(const WinInetApi& api, HINTERNET request) {
    std::wstring location(kMaxLocationCharacters, L'\0');
    DWORD size = static_cast<DWORD>(location.size() * sizeof(wchar_t));
    if (!api.queryInfo(request, HTTP_QUERY_LOCATION, location.data(), &size, nullptr))
        return std::nullopt;
    location.resize(size / sizeof(wchar_t));
    return Narrow(location);
}

// Read as text: the numeric form of the header holds 32 bits only, and bodies may exceed 4 GiB.
// Nothing when the answer states no length; a length that is no plain decimal number, or one too
// large for 64 bits, is no answer to trust at all.
std::optional<std::uint64_t> ContentLength(const WinInetApi& api, HINTERNET request) {
    wchar_t text[32] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    if (!api.queryInfo(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) {
        const DWORD code = GetLastError();
        if (code == ERROR_HTTP_HEADER_NOT_FOUND)
            return std::nullopt;
        throw Win32Error("HttpQueryInfoW", code != ERROR_SUCCESS ? code : ERROR_GEN_FAILURE);
    }
    if (text[0] == L'\0')
        throw Win32Error("Content-Length", ERROR_INVALID_DATA);
    std::uint64_t length = 0;
    for (const wchar_t* digit = text; *digit != L'\0'; ++digit) {
        const auto value = static_cast<std::uint64_t>(*digit - L'0');
        if (*digit < L'0' || *digit > L'9' || length > (UINT64_MAX - value) / 10)
            throw Win32Error("Content-Length", ERROR_INVALID_DATA);
        length = length * 10 + value;
    }
    return length;
}

// One request's session, connection and request, closed together (system/request_close_win.h).
class OpenRequest {
public:
    explicit OpenRequest(decltype(&InternetCloseHandle) close) noexcept : close_(close) {}
    OpenRequest(const OpenRequest&) = delete;
    OpenRequest& operator=(const OpenRequest&) = delete;
    ~OpenRequest() { CloseRequestHandles(close_, handles); }

    RequestHandles handles;

private:
    decltype(&InternetCloseHandle) close_;
};

// A session, a connection and a sent request; nothing when any fails (over TLS: any certificate
// error). Each request has a session of its own, so that nothing outlives its close.
std::unique_ptr<OpenRequest> SendRequest(const WinInetApi& api, const HttpAddress& address, DWORD timeout) {
    auto open = std::make_unique<OpenRequest>(api.close);
    RequestHandles& handles = open->handles;
    handles.session = api.open(L"MAJLumoradex", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (handles.session == nullptr)
        return nullptr;
    handles.connection = api.connect(handles.session, Widen(address.host).c_str(), address.port, nullptr, nullptr,
                                     INTERNET_SERVICE_HTTP, 0, 0);
    if (handles.connection == nullptr || !SetTimeouts(api, handles.connection, timeout))
        return nullptr;
    const DWORD flags = kRequestFlags | (address.secure ? INTERNET_FLAG_SECURE : 0);
    handles.request =
        api.openRequest(handles.connection, L"GET", Widen(address.path).c_str(), nullptr, nullptr, nullptr, flags, 0);
    if (handles.request == nullptr || !SetTimeouts(api, handles.request, timeout) ||
        !api.sendRequest(handles.request, nullptr, 0, nullptr, 0))
        return nullptr;
    return open;
}

// InternetReadFile returns only once it has filled the whole buffer or the body has ended: a server
// that drips one byte at a time, each well within the receive time-out, would hold a single read for
// as long as it likes. Asked first how much has arrived, and reading no more than that, each call
// waits for the next bytes only, and the limits are judged as they come.
bool ReadArrived(const WinInetApi& api, HINTERNET request, std::byte* buffer, std::size_t size, DWORD& read) {
    read = 0;
    DWORD available = 0;
    if (!api.queryDataAvailable(request, &available, 0, 0))
        return false;
    const auto wanted = static_cast<DWORD>(std::min<std::size_t>(available, size));
    return wanted == 0 || api.readFile(request, buffer, wanted, &read);
}

} // namespace

WinInetTransfer::WinInetTransfer(std::chrono::milliseconds timeout) : timeout_(timeout) {}

WinInetTransfer::~WinInetTransfer() = default;

// The text is held whole in memory: its size is bounded, and so is the time of the whole request.
std::optional<std::string> WinInetTransfer::FetchText(const std::string& url, std::size_t limit) {
    TextSink sink;
    try {
        const DownloadResult result = Receive(url, sink, TransferLimits::Document(limit, timeout_));
        if (result == DownloadResult::Complete || result == DownloadResult::Unproven)
            return std::move(sink.text);
    } catch (...) {
    }
    return std::nullopt;
}

// A sink that cannot store the bytes fails the download like a broken connection. The request
// time-out is also the window in which a body must keep moving.
DownloadResult WinInetTransfer::Download(const std::string& url, DownloadSink& sink) {
    try {
        return Receive(url, sink, TransferLimits::FileBody(timeout_));
    } catch (...) {
        return DownloadResult::Failed;
    }
}

DownloadResult WinInetTransfer::Receive(const std::string& url, DownloadSink& sink, const TransferLimits& limits) {
    TransferLimiter limiter(limits, TransferClock::now());
    std::optional<HttpAddress> address = ParseHttpAddress(url);
    if (!address)
        return DownloadResult::Failed;
    if (!api_)
        api_ = std::make_unique<WinInetApi>();
    const WinInetApi& api = *api_;
    const BusyScope busy(busy_);
    const auto timeout = static_cast<DWORD>(timeout_.count());

    std::unique_ptr<OpenRequest> open;
    std::optional<DWORD> status;
    // The limits run from the first request to the last byte, redirects included.
    for (int redirects = 0;; ++redirects) {
        open = SendRequest(api, *address, timeout);
        status = open ? StatusCode(api, open->handles.request) : std::nullopt;
        if (!status || !limiter.MayContinue(TransferClock::now()))
            return DownloadResult::Failed;
        if (!IsRedirect(*status))
            break;
        const std::optional<std::string> location = Location(api, open->handles.request);
        std::optional<HttpAddress> target = location ? RedirectTarget(*address, *location) : std::nullopt;
        if (redirects == kMaxRedirects || !target || !MayFollowRedirect(*address, *target))
            return DownloadResult::Failed;
        address = std::move(target);
    }
    const HINTERNET request = open->handles.request;

    // WinINet hands over an error page like any other body: only the status tells them apart.
    if (*status < 200 || *status > 299)
        return DownloadResult::Refused;

    // A connection closed cleanly in the middle of the body reads as a normal end, and so does a
    // chunked body cut before its last chunk: only the length the server stated shows that a body is
    // whole. Static files always come with it, as no compression (which servers stream) is asked for.
    // A body is never read past that length, nor past what the sink takes: a server sending without
    // end fills neither the memory nor the disk.
    const std::optional<std::uint64_t> expected = ContentLength(api, request);
    if (expected && !limiter.AcceptsLength(*expected))
        return DownloadResult::Failed;
    const BodyPlan plan = sink.Expect(expected);
    if (plan.decision == BodyPlan::Decision::Decline)
        return DownloadResult::Declined;
    if (plan.decision == BodyPlan::Decision::Fail)
        return DownloadResult::Failed;
    if (plan.maxBytes)
        limiter.LimitBodyTo(*plan.maxBytes);
    if (expected)
        limiter.LimitBodyTo(*expected);
    std::vector<std::byte> buffer(kChunkSize);
    std::uint64_t received = 0;
    // The announced length frames the body: what a server sends after it is none of it, and is
    // never read (WinINet counts it among the bytes arrived, and would hand it over).
    while (!expected || received < *expected) {
        std::size_t wanted = limiter.NextReadSize(buffer.size());
        if (expected)
            wanted = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, *expected - received));
        DWORD read = 0;
        if (!ReadArrived(api, request, buffer.data(), wanted, read) ||
            !limiter.MayContinue(TransferClock::now(), read))
            return DownloadResult::Failed;
        if (read == 0)
            break;
        sink.Write(buffer.data(), read);
        received += read;
        sink.BetweenChunks();
    }
    if (!expected)
        return DownloadResult::Unproven;
    return received == *expected ? DownloadResult::Complete : DownloadResult::Failed;
}

} // namespace lumoradex
