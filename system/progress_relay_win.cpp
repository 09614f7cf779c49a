#include "system/progress_relay_win.h"

#include <cwchar>

#include "base/win32_error_win.h"

namespace lumoradex {
namespace {

// A window too busy to take a text does not hold up the installation.
constexpr DWORD kWriteTimeoutMilliseconds = 5000;
constexpr DWORD kBusyPipeWaitMilliseconds = 2000;
// Enough for a few turns of connections dropped and made again, never a spin.
constexpr int kMaxStepsPerTake = 64;

std::wstring PipeName(DWORD processId) {
    return L"\\\\.\\pipe\\MAJLumoradex.progress." + std::to_wstring(processId);
}

bool IsWindowOfClass(HWND window, const wchar_t* windowClass) {
    wchar_t name[64] = {};
    return window != nullptr && IsWindow(window) && GetClassNameW(window, name, 64) > 0 &&
           std::wcscmp(name, windowClass) == 0;
}

UniqueKernelHandle ManualResetEvent() {
    UniqueKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event)
        ThrowLastError("CreateEventW");
    return event;
}

// Identification only: whoever serves the pipe may learn who writes, never act in the writer's name.
UniqueFile OpenPipe(const std::wstring& name) {
    constexpr DWORD kFlags = FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
    UniqueFile pipe(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, kFlags, nullptr));
    if (!pipe && GetLastError() == ERROR_PIPE_BUSY && WaitNamedPipeW(name.c_str(), kBusyPipeWaitMilliseconds))
        pipe.Reset(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, kFlags, nullptr));
    return pipe;
}

} // namespace

// One instance of the pipe, made first: a name already taken by another program fails here, and no
// second instance can be made beside it. Texts come as messages, from this machine only.
ProgressReceiver::ProgressReceiver()
    : pipe_(CreateNamedPipeW(PipeName(GetCurrentProcessId()).c_str(),
                             PIPE_ACCESS_INBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
                             static_cast<DWORD>(buffer_.size()), 0, nullptr)),
      event_(ManualResetEvent()) {
    if (!pipe_)
        ThrowLastError("CreateNamedPipeW");
    overlapped_.hEvent = event_.Get();
    StartNext();
}

// Every connection and every read completes through the event. A message too long for the buffer,
// a writer gone or any other process than sender ends that connection, and the pipe waits for the
// next one.
std::vector<std::string> ProgressReceiver::Take(DWORD sender) {
    std::vector<std::string> texts;
    for (int step = 0; step < kMaxStepsPerTake && !broken_; ++step) {
        if (!started_ && StartNext() != Step::Pending)
            continue;
        DWORD bytes = 0;
        const bool done = GetOverlappedResult(pipe_.Get(), &overlapped_, &bytes, FALSE);
        const DWORD code = done ? ERROR_SUCCESS : GetLastError();
        if (code == ERROR_IO_INCOMPLETE)
            break;
        started_ = false;
        if (!connected_) {
            connected_ = code == ERROR_SUCCESS || code == ERROR_PIPE_CONNECTED;
            continue;
        }
        // Checked at each text: Wine knows the writer only once it has written.
        if (code != ERROR_SUCCESS || !FromSender(sender)) {
            Drop();
            continue;
        }
        texts.emplace_back(buffer_.data(), bytes);
    }
    // Nothing pending: the next call starts what comes next.
    if (!started_ && !broken_)
        SetEvent(event_.Get());
    return texts;
}

ProgressReceiver::Step ProgressReceiver::StartNext() {
    ResetEvent(event_.Get());
    if (!connected_) {
        if (!ConnectNamedPipe(pipe_.Get(), &overlapped_)) {
            const DWORD code = GetLastError();
            if (code == ERROR_PIPE_CONNECTED) {
                connected_ = true;
                return StartNext();
            }
            if (code != ERROR_IO_PENDING) {
                broken_ = true;
                return Step::Broken;
            }
        }
        started_ = true;
        return Step::Pending;
    }
    if (!ReadFile(pipe_.Get(), buffer_.data(), static_cast<DWORD>(buffer_.size()), nullptr, &overlapped_)) {
        const DWORD code = GetLastError();
        if (code != ERROR_IO_PENDING) {
            Drop();
            return Step::Done;
        }
    }
    started_ = true;
    return Step::Pending;
}

bool ProgressReceiver::FromSender(DWORD sender) const {
    ULONG client = 0;
    return GetNamedPipeClientProcessId(pipe_.Get(), &client) && client != 0 && client == sender;
}

void ProgressReceiver::Drop() {
    DisconnectNamedPipe(pipe_.Get());
    connected_ = false;
    started_ = false;
}

RelayedProgress::RelayedProgress(HWND progressWindow, const wchar_t* windowClass) {
    DWORD processId = 0;
    if (!IsWindowOfClass(progressWindow, windowClass) || GetWindowThreadProcessId(progressWindow, &processId) == 0)
        return;
    written_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (written_)
        pipe_ = OpenPipe(PipeName(processId));
}

// The text waits until the window has taken it, so that it shows before the download it announces;
// a window that does not take it within the time-out gets no more.
void RelayedProgress::SetMessage(const std::string& text) {
    if (!pipe_ || text.size() > 1024)
        return;
    OVERLAPPED overlapped{};
    overlapped.hEvent = written_.Get();
    DWORD written = 0;
    bool sent = WriteFile(pipe_.Get(), text.data(), static_cast<DWORD>(text.size()), nullptr, &overlapped);
    if (!sent && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(written_.Get(), kWriteTimeoutMilliseconds) != WAIT_OBJECT_0)
            CancelIo(pipe_.Get());
        sent = GetOverlappedResult(pipe_.Get(), &overlapped, &written, TRUE);
    }
    if (!sent)
        pipe_.Reset();
}

} // namespace lumoradex
