#pragma once
// The command line as the program's modes read it: the text after the program's own name.

#include <string>

namespace lumoradex {

// Empty text means automatic mode; any other text, whatever it says, interactive mode.
std::string ArgumentText();

} // namespace lumoradex
