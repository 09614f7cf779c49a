#pragma once
// The process services of an update run over Win32.

#include "updater/ports/process_services.h"

namespace lumoradex {

class Win32ProcessServices final : public ProcessServices {
public:
    bool FermerFenetres(const std::string& wantedTitle) override;
    void Beep() override;
    void StartProgram(const std::string& commandLine, int showState) override;
    void EndProgram() override;
    void Sleep(int milliseconds) override;
    std::chrono::steady_clock::time_point Now() const override { return std::chrono::steady_clock::now(); }
};

} // namespace lumoradex
