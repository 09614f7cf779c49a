#include "system/net/transfer_win.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "base/wide_text_win.h"
#include "base/win32_error_win.h"
#include "system/net/async_request_win.h"
#include "system/net/http_address.h"
#include "system/net/range_headers.h"
#include "system/net/wininet_api_win.h"

namespace lumoradex {

namespace {

// As many as a browser would follow before giving up on a loop.
constexpr int kMaxRedirects = 10;
constexpr DWORD kMaxLocationCharacters = 2048;
constexpr DWORD kMaxHeaderCharacters = 256;

class BusyScope {
public:
    explicit BusyScope(bool& busy) : busy_(busy) { busy_ = true; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
    ~BusyScope() { busy_ = false; }

private:
    bool& busy_;
};

// A part of a document is no document: none is asked for.
class TextSink final : public DownloadSink {
public:
    BodyPlan Expect(const AnswerHeaders& answer) override {
        return {answer.partial ? BodyPlan::Decision::Fail : BodyPlan::Decision::Read, std::nullopt};
    }
    void Write(const std::byte* data, std::size_t size) override {
        text.append(reinterpret_cast<const char*>(data), size);
    }
    void BetweenChunks() override {}

    std::string text;
};

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
        throw Win32Error("HttpQueryInfoW", code);
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

// A header's value as sent, bounded: a longer one reads as empty, which no rule takes for a value.
// Nothing when the answer does not have it.
std::optional<std::string> HeaderText(const WinInetApi& api, HINTERNET request, DWORD header) {
    wchar_t text[kMaxHeaderCharacters + 1] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    if (!api.queryInfo(request, header, text, &size, nullptr)) {
        const DWORD code = GetLastError();
        if (code == ERROR_HTTP_HEADER_NOT_FOUND)
            return std::nullopt;
        if (code == ERROR_INSUFFICIENT_BUFFER)
            return std::string();
        throw Win32Error("HttpQueryInfoW", code);
    }
    const std::wstring_view value(text, size / sizeof(wchar_t));
    if (!std::ranges::all_of(value, [](wchar_t c) { return c >= 0x20 && c < 0x7f; }))
        return std::string();
    return std::string(value.begin(), value.end());
}

AnswerHeaders ReadAnswerHeaders(const WinInetApi& api, HINTERNET request, DWORD status) {
    AnswerHeaders answer;
    answer.announcedLength = ContentLength(api, request);
    answer.partial = status == 206;
    if (answer.partial) {
        const std::optional<std::string> range = HeaderText(api, request, HTTP_QUERY_CONTENT_RANGE);
        answer.part = range ? ParseContentRange(*range) : std::nullopt;
    }
    const std::optional<std::string> entityTag = HeaderText(api, request, HTTP_QUERY_ETAG);
    const std::optional<std::string> lastModified = HeaderText(api, request, HTTP_QUERY_LAST_MODIFIED);
    const std::optional<std::string> date = HeaderText(api, request, HTTP_QUERY_DATE);
    answer.validator = ValidatorOf(entityTag, lastModified, date);
    return answer;
}

} // namespace

WinInetTransfer::WinInetTransfer(std::chrono::milliseconds timeout) : timeout_(timeout) {}

WinInetTransfer::~WinInetTransfer() = default;

// The text is held whole in memory: its size is bounded, and so is the time of the whole request.
// The transfer and its sink fail by throwing a std::exception, as adapters do (a Win32Error, memory
// exhausted): that is no text. Anything else thrown is a fault of the program, left to the caller.
std::optional<std::string> WinInetTransfer::FetchText(const std::string& url, std::size_t limit) {
    TextSink sink;
    try {
        const DownloadResult result = Receive({url, std::nullopt, std::nullopt}, sink, TransferLimits::Document(limit, timeout_));
        if (result == DownloadResult::Complete || result == DownloadResult::Unproven)
            return std::move(sink.text);
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

// A sink that cannot store the bytes fails the download like a broken connection: it throws a
// std::exception, as the transfer does (a StepFailure, a Win32Error of the file it writes, memory
// exhausted). The request time-out is also the window in which a body must keep moving.
DownloadResult WinInetTransfer::Download(const DownloadRequest& request, DownloadSink& sink) {
    try {
        return Receive(request, sink, TransferLimits::FileBody(timeout_, request.firstByteBy));
    } catch (const std::exception&) {
        return DownloadResult::Failed;
    }
}

DownloadResult WinInetTransfer::Receive(const DownloadRequest& asked, DownloadSink& sink, const TransferLimits& limits) {
    TransferLimiter limiter(limits, TransferClock::now());
    std::optional<HttpAddress> address = ParseHttpAddress(asked.url);
    const std::wstring extraHeaders = asked.resume ? Widen(ResumeHeaders(*asked.resume)) : std::wstring();
    if (!address)
        return DownloadResult::Failed;
    if (!api_)
        api_ = std::make_unique<WinInetApi>();
    const WinInetApi& api = *api_;
    const BusyScope busy(busy_);
    const auto timeout = static_cast<DWORD>(timeout_.count());

    std::unique_ptr<AsyncRequest> open;
    std::optional<DWORD> status;
    // The limits run from the first request to the last byte, redirects included.
    for (int redirects = 0;; ++redirects) {
        open.reset();
        open = std::make_unique<AsyncRequest>(api, *address, timeout);
        status = open->ReceiveHeaders(limiter.Deadline(), extraHeaders) ? StatusCode(api, open->Handle()) : std::nullopt;
        if (!status || !limiter.MayContinue(TransferClock::now()))
            return DownloadResult::Failed;
        if (!IsRedirect(*status))
            break;
        const std::optional<std::string> location = Location(api, open->Handle());
        std::optional<HttpAddress> target = location ? RedirectTarget(*address, *location) : std::nullopt;
        if (redirects == kMaxRedirects || !target || !MayFollowRedirect(*address, *target))
            return DownloadResult::Failed;
        address = std::move(target);
    }
    const HINTERNET request = open->Handle();

    // WinINet hands over an error page like any other body: only the status tells them apart.
    if (*status < 200 || *status > 299)
        return DownloadResult::Refused;

    // A connection closed cleanly in the middle of the body reads as a normal end, and so does a
    // chunked body cut before its last chunk: only the length the server stated shows that a body is
    // whole. Static files always come with it, as no compression (which servers stream) is asked for.
    // A body is never read past that length, nor past what the sink takes: a server sending without
    // end fills neither the memory nor the disk.
    const AnswerHeaders answer = ReadAnswerHeaders(api, request, *status);
    const std::optional<std::uint64_t> expected = answer.announcedLength;
    if (expected && !limiter.AcceptsLength(*expected))
        return DownloadResult::Failed;
    const BodyPlan plan = sink.Expect(answer);
    if (plan.decision == BodyPlan::Decision::Decline)
        return DownloadResult::Declined;
    if (plan.decision == BodyPlan::Decision::Fail)
        return DownloadResult::Failed;
    if (plan.maxBytes)
        limiter.LimitBodyTo(*plan.maxBytes);
    if (expected)
        limiter.LimitBodyTo(*expected);
    std::uint64_t received = 0;
    // The announced length frames the body: what a server sends after it is none of it, and is
    // never read (WinINet counts it among the bytes arrived, and would hand it over).
    while (!expected || received < *expected) {
        std::size_t wanted = limiter.NextReadSize(kLargestRead);
        if (expected)
            wanted = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, *expected - received));
        const std::optional<std::span<const std::byte>> arrived = open->Read(wanted, limiter.Deadline());
        if (!arrived || !limiter.MayContinue(TransferClock::now(), arrived->size()))
            return DownloadResult::Failed;
        if (arrived->empty())
            break;
        sink.Write(arrived->data(), arrived->size());
        received += arrived->size();
        sink.BetweenChunks();
    }
    if (!expected)
        return DownloadResult::Unproven;
    if (received != *expected)
        return DownloadResult::Failed;
    open->TakenToItsLength();
    return DownloadResult::Complete;
}

} // namespace lumoradex
