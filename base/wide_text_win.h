#pragma once
// The program keeps texts in UTF-8; Win32's wide-character calls take UTF-16.

#include <string>
#include <string_view>

namespace lumoradex {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

} // namespace lumoradex
