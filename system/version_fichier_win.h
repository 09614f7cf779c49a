#pragma once
// VersionFichier, of the module Module1: the version resource of an executable as the short text
// the version check compares.

#include <string>

namespace lumoradex {

// "major.minor.revision" from the file version, or "0.0.0" whenever no version can be read.
// A bare name is searched as the library loader searches: the program's folder first.
std::string VersionFichier(const std::string& fileName);

} // namespace lumoradex
