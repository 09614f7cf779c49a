#include "system/command_line_win.h"

#include <windows.h>

#include "base/wide_text_win.h"

namespace lumoradex {

// GetCommandLineW holds the program's name too: skip it the way the C runtime does (a quoted name
// ends at the closing quote, an unquoted one at the first blank), then the blanks after it.
std::string ArgumentText() {
    const wchar_t* cursor = GetCommandLineW();
    if (*cursor == L'"') {
        ++cursor;
        while (*cursor != L'\0' && *cursor != L'"')
            ++cursor;
        if (*cursor == L'"')
            ++cursor;
    } else {
        while (*cursor != L'\0' && *cursor != L' ' && *cursor != L'\t')
            ++cursor;
    }
    while (*cursor == L' ' || *cursor == L'\t')
        ++cursor;
    return Narrow(cursor);
}

} // namespace lumoradex
