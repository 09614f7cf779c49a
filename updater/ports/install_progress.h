#pragma once
// Where an installation says what it is doing: the window's status line, or, in an elevated
// instance, the window of the instance that asked for it. Texts are UTF-8.

#include <string>

namespace lumoradex {

class InstallProgress {
public:
    virtual ~InstallProgress() = default;
    virtual void SetMessage(const std::string& text) = 0;
};

} // namespace lumoradex
