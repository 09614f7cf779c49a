#include "system/close_windows_win.h"

#include <windows.h>

#include "base/wide_text_win.h"

namespace lumoradex {
namespace {

// Room for 254 characters and the NUL: a longer title is compared on its first 254 characters.
constexpr int kTitleCapacity = 255;

bool TitleMatches(const wchar_t* title, int length, const std::wstring& wanted) {
    return CompareStringOrdinal(title, length, wanted.data(), static_cast<int>(wanted.size()), TRUE) == CSTR_EQUAL;
}

} // namespace

// Walks the live Z-order list of top-level windows from the desktop; windows of every process are
// examined. A window without a title never matches, so an empty wanted title closes nothing. The
// next window is looked up after the request has been posted: a window already gone by then ends
// the walk, as the platform gives no next window for it.
bool FermerFenetres(const std::string& wantedTitle) {
    const std::wstring wanted = Widen(wantedTitle);
    wchar_t title[kTitleCapacity];
    for (HWND window = GetWindow(GetDesktopWindow(), GW_CHILD); window != nullptr;
         window = GetWindow(window, GW_HWNDNEXT)) {
        const int length = GetWindowTextW(window, title, kTitleCapacity);
        if (length > 0 && TitleMatches(title, length, wanted))
            PostMessageW(window, WM_CLOSE, 0, 0);
    }
    return true;
}

} // namespace lumoradex
