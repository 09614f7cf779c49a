#pragma once
// The application's files that an update installs, by their bare names.

#include <array>
#include <string_view>

namespace lumoradex {

// In the order they are installed; the executable comes last so that the application has the
// longest time to close before its turn.
inline constexpr std::array<std::string_view, 7> kUpdateFileList{
    "Velmor.prm", "VelmorA.prm", "VelmorE.prm", "MailLink.exe", "XVelmor.mdb", "socle.mdb", "Velmor.exe"};

} // namespace lumoradex
