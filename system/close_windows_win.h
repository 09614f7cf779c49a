#pragma once
// FermerFenetres of Module1: asks the application's windows to close.

#include <string>

namespace lumoradex {

// Posts WM_CLOSE to every top-level window whose whole title is wantedTitle in any letter case,
// visible or hidden, and returns at once without waiting. Always true.
bool FermerFenetres(const std::string& wantedTitle);

} // namespace lumoradex
