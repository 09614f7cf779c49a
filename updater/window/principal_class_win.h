#pragma once
// The window class of Principal: an elevated instance sends its progress only to a window of it.

namespace lumoradex {

inline constexpr wchar_t kPrincipalClassName[] = L"MAJLumoradex.Principal";

} // namespace lumoradex
