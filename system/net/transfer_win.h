#pragma once
// The window's transfer service (Inet1) over WinINet: plain HTTP GET requests, each one fresh from
// the server (a range of it when a download resumes), with a request time-out that ends a stalled transfer and bounds a slow one
// (system/net/transfer_limits.h).

#include <chrono>
#include <memory>

#include "system/net/transfer_limits.h"
#include "updater/ports/transfer.h"

namespace lumoradex {

struct WinInetApi;

class WinInetTransfer final : public Transfer {
public:
    explicit WinInetTransfer(std::chrono::milliseconds timeout = std::chrono::seconds(60));
    WinInetTransfer(const WinInetTransfer&) = delete;
    WinInetTransfer& operator=(const WinInetTransfer&) = delete;
    ~WinInetTransfer() override;

    std::optional<std::string> FetchText(const std::string& url, std::size_t limit) override;
    DownloadResult Download(const DownloadRequest& request, DownloadSink& sink) override;
    bool StillExecuting() const override { return busy_; }

private:
    DownloadResult Receive(const DownloadRequest& asked, DownloadSink& sink, const TransferLimits& limits);

    std::chrono::milliseconds timeout_;
    std::unique_ptr<WinInetApi> api_; // loaded at the first transfer
    bool busy_ = false;
};

} // namespace lumoradex
