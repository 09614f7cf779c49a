#include "system/progress_relay_win.h"

#include <sddl.h>

#include <cwchar>
#include <memory>

#include "base/system_library_win.h"
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

struct LocalMemoryFree {
    void operator()(void* memory) const { LocalFree(memory); }
};
using LocalMemory = std::unique_ptr<void, LocalMemoryFree>;

// The SID of the user this process runs as, in its string form.
std::wstring TokenUserSid(HMODULE advapi) {
    const auto openProcessToken = SystemProcedure<decltype(&OpenProcessToken)>(advapi, "OpenProcessToken");
    const auto getTokenInformation = SystemProcedure<decltype(&GetTokenInformation)>(advapi, "GetTokenInformation");
    const auto sidToString = SystemProcedure<decltype(&ConvertSidToStringSidW)>(advapi, "ConvertSidToStringSidW");
    HANDLE token = nullptr;
    if (!openProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        ThrowLastError("OpenProcessToken");
    const UniqueKernelHandle ownedToken(token);
    alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (!getTokenInformation(token, TokenUser, user, sizeof user, &size))
        ThrowLastError("GetTokenInformation");
    wchar_t* text = nullptr;
    if (!sidToString(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &text))
        ThrowLastError("ConvertSidToStringSidW");
    const LocalMemory ownedText(text);
    return text;
}

// The default security lets every local account open the pipe to read, and so hold its one instance
// by never writing. Here two may open it, to write only (what CreateFileW asks for with
// GENERIC_WRITE): this process's user, and Administrators, for an elevated instance that runs as
// another account (an administrator's password typed for a standard user). A token without
// elevation holds Administrators for denial only, so that entry lets in elevated processes alone.
// advapi32.dll is taken from the system folder only when a pipe is made.
UniqueFile CreateReceivingPipe(const std::wstring& name, DWORD bufferSize) {
    constexpr DWORD kWriterRights = FILE_GENERIC_WRITE | FILE_READ_ATTRIBUTES;
    const UniqueLibrary advapi = LoadSystemLibrary(L"advapi32.dll");
    const auto stringToDescriptor = SystemProcedure<decltype(&ConvertStringSecurityDescriptorToSecurityDescriptorW)>(
        advapi.Get(), "ConvertStringSecurityDescriptorToSecurityDescriptorW");
    wchar_t rights[16];
    std::swprintf(rights, std::size(rights), L"0x%lx", static_cast<unsigned long>(kWriterRights));
    const std::wstring descriptorText =
        std::wstring(L"D:P(A;;") + rights + L";;;" + TokenUserSid(advapi.Get()) + L")(A;;" + rights + L";;;BA)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!stringToDescriptor(descriptorText.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        ThrowLastError("ConvertStringSecurityDescriptorToSecurityDescriptorW");
    const LocalMemory ownedDescriptor(descriptor);
    SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
    UniqueFile pipe(CreateNamedPipeW(
        name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, bufferSize, 0, &security));
    if (!pipe)
        ThrowLastError("CreateNamedPipeW");
    return pipe;
}

} // namespace

// One instance of the pipe, made first: a name already taken by another program fails here, and no
// second instance can be made beside it. Texts come as messages, from this machine only.
ProgressReceiver::ProgressReceiver()
    : pipe_(CreateReceivingPipe(PipeName(GetCurrentProcessId()), static_cast<DWORD>(sizeof buffer_))),
      event_(ManualResetEvent()) {
    overlapped_.hEvent = event_.Get();
    StartNext();
}

// Every connection and every read completes through the event. Any other process than sender is
// dropped as soon as it connects, before it can hold the pipe's one instance by never writing; a
// message too long for the buffer or a writer gone ends that connection too, and the pipe waits for
// the next one.
std::vector<std::string> ProgressReceiver::Take(DWORD sender) {
    std::vector<std::string> texts;
    for (int step = 0; step < kMaxStepsPerTake && !broken_; ++step) {
        if (!started_) {
            const Step next = StartNext();
            if (next == Step::Connected)
                Admit(sender);
            if (next != Step::Pending)
                continue;
        }
        DWORD bytes = 0;
        const bool done = GetOverlappedResult(pipe_.Get(), &overlapped_, &bytes, FALSE);
        const DWORD code = done ? ERROR_SUCCESS : GetLastError();
        if (code == ERROR_IO_INCOMPLETE)
            break;
        started_ = false;
        if (!connected_) {
            if (code == ERROR_SUCCESS || code == ERROR_PIPE_CONNECTED)
                Admit(sender);
            continue;
        }
        if (code != ERROR_SUCCESS) {
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
            // Connected before it was waited for, and said so again at each call until admitted:
            // the caller checks who it is before anything is read.
            if (code == ERROR_PIPE_CONNECTED) {
                SetEvent(event_.Get());
                return Step::Connected;
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

// Wine 8 names the client as soon as it has connected, as Windows does (measured from another
// process, before it wrote); a client that cannot be named is dropped like a foreign one.
void ProgressReceiver::Admit(DWORD sender) {
    ULONG client = 0;
    if (GetNamedPipeClientProcessId(pipe_.Get(), &client) && client != 0 && client == sender)
        connected_ = true;
    else
        Drop();
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
