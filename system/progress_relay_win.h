#pragma once
// The progress messages of an elevated instance, relayed to the window of the instance that asked
// for it through a named pipe of that instance's. The pipe exists only while the window waits for
// its elevated instance, only its user and elevated administrators may open it, and the window keeps
// a connection only from the process it started: no other program can write into it or hold it.

#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "updater/ports/install_progress.h"

namespace lumoradex {

// The receiving end, in the process that waits for its elevated instance.
class ProgressReceiver {
public:
    // Creates this process's pipe; throws when it cannot, or when another program holds its name.
    ProgressReceiver();
    ProgressReceiver(const ProgressReceiver&) = delete;
    ProgressReceiver& operator=(const ProgressReceiver&) = delete;

    // Signalled when a connection or a text has come.
    HANDLE Event() const { return event_.Get(); }
    // The texts that have come from the process sender; a connection from any other process is
    // dropped unread as soon as it is made.
    std::vector<std::string> Take(DWORD sender);

private:
    enum class Step { Pending, Connected, Done, Broken };
    Step StartNext();
    void Admit(DWORD sender);
    void Drop();

    UniqueFile pipe_;
    UniqueKernelHandle event_;
    OVERLAPPED overlapped_{};
    std::array<char, 1024> buffer_{};
    bool connected_ = false;
    bool started_ = false;
    bool broken_ = false;
};

// The elevated instance's progress, relayed to the window of the instance that asked for it.
class RelayedProgress final : public InstallProgress {
public:
    // A handle that is not a window of the given class gets nothing.
    RelayedProgress(HWND progressWindow, const wchar_t* windowClass);

    void SetMessage(const std::string& text) override;

private:
    UniqueFile pipe_;
    UniqueKernelHandle written_;
};

} // namespace lumoradex
