// The elevated instance's progress texts, from its stand-in window to the receiving pipe of the
// instance that waits for it: only the process that instance started is heard.

#include "system/progress_relay_win.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/win32_error_win.h"

namespace lumoradex {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr wchar_t kWaitingClass[] = L"MAJLumoradex.Test.WaitingWindow";
constexpr wchar_t kOtherClass[] = L"MAJLumoradex.Test.OtherWindow";

// A window of this process standing for the one that waits for its elevated instance.
class WaitingWindow {
public:
    explicit WaitingWindow(const wchar_t* className) {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = className;
        RegisterClassW(&windowClass);
        window_ = CreateWindowW(className, L"", 0, 0, 0, 10, 10, nullptr, nullptr, windowClass.hInstance, nullptr);
    }
    WaitingWindow(const WaitingWindow&) = delete;
    WaitingWindow& operator=(const WaitingWindow&) = delete;
    ~WaitingWindow() { DestroyWindow(window_); }
    HWND Handle() const { return window_; }

private:
    HWND window_ = nullptr;
};

// The texts the receiver takes from sender once the event says something came.
std::vector<std::string> Received(ProgressReceiver& receiver, DWORD sender) {
    std::vector<std::string> texts;
    for (int wake = 0; wake < 8 && WaitForSingleObject(receiver.Event(), 200) == WAIT_OBJECT_0; ++wake) {
        for (std::string& text : receiver.Take(sender))
            texts.push_back(std::move(text));
    }
    return texts;
}

TEST(ProgressRelay, TextsFromTheProcessStartedReachTheWaitingWindow) {
    WaitingWindow waiting(kWaitingClass);
    ProgressReceiver receiver;
    RelayedProgress relay(waiting.Handle(), kWaitingClass);
    relay.SetMessage("Veuillez patienter, téléchargement en cours (Velmor.prm)");
    relay.SetMessage("Veuillez patienter, téléchargement en cours (Velmor.exe)");
    EXPECT_THAT(Received(receiver, GetCurrentProcessId()),
                ElementsAre("Veuillez patienter, téléchargement en cours (Velmor.prm)",
                            "Veuillez patienter, téléchargement en cours (Velmor.exe)"));
}

// Any other writer is dropped unread, and the pipe waits for the next one.
TEST(ProgressRelay, ATextFromAnyOtherProcessIsDropped) {
    WaitingWindow waiting(kWaitingClass);
    ProgressReceiver receiver;
    {
        RelayedProgress intruder(waiting.Handle(), kWaitingClass);
        intruder.SetMessage("Téléchargements terminés, mise à jour OK");
        EXPECT_THAT(Received(receiver, GetCurrentProcessId() + 4), IsEmpty());
    }
    RelayedProgress relay(waiting.Handle(), kWaitingClass);
    relay.SetMessage("Veuillez patienter");
    EXPECT_THAT(Received(receiver, GetCurrentProcessId()), ElementsAre("Veuillez patienter"));
}

// The pipe has one instance, made by the waiting process first: no other can serve its name.
TEST(ProgressRelay, NoSecondReceiverServesTheSameName) {
    ProgressReceiver receiver;
    EXPECT_THROW(ProgressReceiver(), Win32Error);
}

// A handle that is no waiting window gets nothing, and the run that relays goes on.
TEST(ProgressRelay, AWindowOfAnotherClassGetsNothing) {
    WaitingWindow other(kOtherClass);
    ProgressReceiver receiver;
    RelayedProgress relay(other.Handle(), kWaitingClass);
    EXPECT_NO_THROW(relay.SetMessage("Veuillez patienter"));
    EXPECT_THAT(Received(receiver, GetCurrentProcessId()), IsEmpty());
}

} // namespace
} // namespace lumoradex
