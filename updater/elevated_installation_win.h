#pragma once
// The program started by another instance of it, elevated, to install the update's files.

#include <optional>
#include <string_view>

#include "system/release_verifier_win.h"

namespace lumoradex {

// Acts on a hand-off command line (see installation_handoff.h) and returns the exit code.
int RunHandOff(std::string_view commandLine, const std::optional<P256PublicKey>& releaseKey);

} // namespace lumoradex
