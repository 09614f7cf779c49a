#include "system/progress_relay_win.h"

#include <cwchar>

namespace lumoradex {
namespace {

// Marks the WM_COPYDATA of a progress message: "MAJP".
constexpr ULONG_PTR kProgressTag = 0x4D414A50;
// Far above any message of the run; a longer one is no message of ours.
constexpr DWORD kMaxProgressBytes = 1024;
// A window too busy to take the message does not hold up the installation.
constexpr UINT kSendTimeoutMilliseconds = 5000;

bool IsWindowOfClass(HWND window, const wchar_t* windowClass) {
    wchar_t name[64] = {};
    return window != nullptr && IsWindow(window) && GetClassNameW(window, name, 64) > 0 &&
           std::wcscmp(name, windowClass) == 0;
}

} // namespace

std::optional<std::string> ReceivedProgress(const COPYDATASTRUCT& data) {
    if (data.dwData != kProgressTag || data.cbData > kMaxProgressBytes || (data.cbData > 0 && data.lpData == nullptr))
        return std::nullopt;
    return std::string(static_cast<const char*>(data.lpData), data.cbData);
}

RelayedProgressWindow::RelayedProgressWindow(HWND progressWindow, const wchar_t* windowClass)
    : progressWindow_(IsWindowOfClass(progressWindow, windowClass) ? progressWindow : nullptr) {}

// The message waits until the window has taken it, so that it shows before the download it announces.
void RelayedProgressWindow::SetMessage(const std::string& text) {
    message_ = text;
    if (progressWindow_ == nullptr || text.size() > kMaxProgressBytes)
        return;
    COPYDATASTRUCT data{kProgressTag, static_cast<DWORD>(text.size()), const_cast<char*>(text.data())};
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(progressWindow_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                        kSendTimeoutMilliseconds, &ignored);
}

} // namespace lumoradex
