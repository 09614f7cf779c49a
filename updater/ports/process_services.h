#pragma once
// What an update run asks of the system beyond files: closing the application, the beep, starting
// the application, ending the program, waiting and the time. Implemented over Win32 in
// system/process_services_win.cpp; unit tests use a fake. Failures throw (see base/failure_rule.h).

#include <chrono>
#include <string>

namespace lumoradex {

class ProcessServices {
public:
    virtual ~ProcessServices() = default;

    // Posts WM_CLOSE to every top-level window titled wantedTitle in any letter case; always true.
    virtual bool FermerFenetres(const std::string& wantedTitle) = 0;
    virtual void Beep() = 0;
    // Starts a program from its command line with the given window show state, without waiting.
    virtual void StartProgram(const std::string& commandLine, int showState) = 0;
    // Ends the process at once, running no closing handler.
    virtual void EndProgram() = 0;
    virtual void Sleep(int milliseconds) = 0;
    virtual std::chrono::steady_clock::time_point Now() const = 0;
};

} // namespace lumoradex
