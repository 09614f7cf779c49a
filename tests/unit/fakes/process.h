#pragma once
// The process's own services: what is asked of them goes into the log of events that the other fakes
// of a test share, and sleeping only counts the time, from whichever thread of the run sleeps.

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "base/step_failure.h"
#include "updater/ports/process_services.h"

namespace lumoradex::fakes {

class FakeProcess final : public ProcessServices {
public:
    explicit FakeProcess(std::vector<std::string>& events) : events_(events) {}

    std::atomic<int> sleptMilliseconds = 0;
    bool failStart = false;

    bool FermerFenetres(const std::string& wantedTitle) override {
        events_.push_back("FermerFenetres " + wantedTitle);
        return true;
    }
    void Beep() override { events_.push_back("Beep"); }
    void StartProgram(const std::string& commandLine, int showState) override {
        events_.push_back("StartProgram " + commandLine + " " + std::to_string(showState));
        if (failStart)
            throw StepFailure("CreateProcess", 2);
    }
    void EndProgram() override { events_.push_back("EndProgram"); }
    void Sleep(int milliseconds) override { sleptMilliseconds += milliseconds; }
    // Only sleeping moves the clock.
    std::chrono::steady_clock::time_point Now() const override {
        return std::chrono::steady_clock::time_point{} + std::chrono::milliseconds(sleptMilliseconds);
    }

private:
    std::vector<std::string>& events_;
};

} // namespace lumoradex::fakes
