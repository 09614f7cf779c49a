// The elevated instance's progress texts, from its stand-in window to the receiving pipe of the
// instance that waits for it: only the process that instance started is heard.

#include "system/progress_relay_win.h"

#include <aclapi.h>
#include <sddl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

#include "base/win32_error_win.h"

namespace lumoradex {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

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

std::wstring ReceiverPipeName() {
    return L"\\\\.\\pipe\\MAJLumoradex.progress." + std::to_wstring(GetCurrentProcessId());
}

std::string SidText(PSID sid) {
    char* text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text))
        return "<unreadable>";
    std::string copy = text;
    LocalFree(text);
    return copy;
}

std::string ThisUserSid() {
    HANDLE token = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    const UniqueKernelHandle owned(token);
    alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    EXPECT_TRUE(GetTokenInformation(token, TokenUser, user, sizeof user, &size));
    return SidText(reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
}

struct AccessEntry {
    BYTE type;
    std::string sid;
    ACCESS_MASK rights;
};

// The entries of the pipe's access list, read back by its name as a client would open it; none at
// all (nullopt) lets every account in.
std::optional<std::vector<AccessEntry>> PipeAccessList() {
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD code = GetNamedSecurityInfoW(ReceiverPipeName().c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                             nullptr, nullptr, &list, nullptr, &descriptor);
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_SUCCESS));
    if (code != ERROR_SUCCESS)
        return std::vector<AccessEntry>{};
    std::optional<std::vector<AccessEntry>> entries;
    if (list != nullptr) {
        entries.emplace();
        for (WORD index = 0; index < list->AceCount; ++index) {
            ACCESS_ALLOWED_ACE* entry = nullptr;
            if (GetAce(list, index, reinterpret_cast<void**>(&entry)))
                entries->push_back({entry->Header.AceType, SidText(&entry->SidStart), entry->Mask});
        }
    }
    LocalFree(descriptor);
    return entries;
}

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

// A process that connects and never writes would hold the pipe's one instance: any other than the
// sender is cut off as soon as its connection is seen, and the sender's own gets through.
TEST(ProgressRelay, AnotherProcessThatConnectsIsDroppedBeforeItWrites) {
    WaitingWindow waiting(kWaitingClass);
    ProgressReceiver receiver;
    const UniqueFile intruder(
        CreateFileW(ReceiverPipeName().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(intruder);
    EXPECT_THAT(Received(receiver, GetCurrentProcessId() + 4), IsEmpty());

    RelayedProgress relay(waiting.Handle(), kWaitingClass);
    relay.SetMessage("Veuillez patienter");
    EXPECT_THAT(Received(receiver, GetCurrentProcessId()), ElementsAre("Veuillez patienter"));
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(intruder.Get(), "x", 1, &written, nullptr)) << "the intruder is still connected";
}

// The default security lets every account open the pipe to read. Only this process's user and
// Administrators (an elevated instance may run as another account, whose token holds that group
// enabled only when elevated) may open it, to write. Wine lets any process of its one user open a
// pipe whatever its list says, so neither a refusal nor a writer let in can be seen here: the list
// is, with all that CreateFileW asks for GENERIC_WRITE (it adds FILE_READ_ATTRIBUTES and SYNCHRONIZE).
TEST(ProgressRelay, OnlyThisUserAndAdministratorsMayOpenThePipeAndOnlyToWrite) {
    constexpr ACCESS_MASK kOpenedToWrite = FILE_GENERIC_WRITE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    constexpr ACCESS_MASK kNeverGiven = FILE_READ_DATA | WRITE_DAC | WRITE_OWNER | DELETE | GENERIC_ALL | GENERIC_READ;
    ProgressReceiver receiver;
    const std::optional<std::vector<AccessEntry>> entries = PipeAccessList();
    ASSERT_TRUE(entries) << "no access list: every account may open the pipe";
    std::vector<std::string> whom;
    for (const AccessEntry& entry : *entries) {
        EXPECT_EQ(entry.type, ACCESS_ALLOWED_ACE_TYPE) << entry.sid;
        EXPECT_EQ(entry.rights & kOpenedToWrite, kOpenedToWrite) << entry.sid << std::hex << " 0x" << entry.rights;
        EXPECT_EQ(entry.rights & kNeverGiven, 0u) << entry.sid << std::hex << " 0x" << entry.rights;
        whom.push_back(entry.sid);
    }
    EXPECT_THAT(whom, UnorderedElementsAre(ThisUserSid(), "S-1-5-32-544"));
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
