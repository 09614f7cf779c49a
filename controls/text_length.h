#pragma once
// Caption lengths count characters as the window toolkit does: UTF-16 code units of the UTF-8 text.

#include <cstddef>
#include <string_view>

namespace lumoradex {

std::size_t CharacterCount(std::string_view utf8);

} // namespace lumoradex
