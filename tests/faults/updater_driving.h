#pragma once
// Driving an update as a user does, for the benchmarks and the fault-injection tests: wait for the
// offer, click "Mettre à jour", and watch the Wine process that runs a Windows program.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/e2e/e2e.h"

namespace lumoradex::e2e {

// Clicks "Mettre à jour" where the layout puts it: (298, 118) in the client area.
void ClickMiseAJour(const Scenario& scenario, const WindowReport& offer);
// The text of Message in the window now; empty when there is no window.
std::string MessageNow(const Scenario& scenario);
// Waits until Message starts with "Téléchargements" and returns it; empty after the time-out.
std::string WaitForResultMessage(const Scenario& scenario, std::chrono::milliseconds timeout);

// The Linux processes of the session that run the Windows program whose file name is exeName
// (any letter case). Wine gives a program it starts a process group of its own: ending the group
// of its parent does not end it.
std::vector<pid_t> FindWineProcesses(const WineSession& session, std::string_view exeName);
std::optional<pid_t> FindWineProcess(const WineSession& session, std::string_view exeName);
// Kills them (the application an automatic run started, say) and waits up to 5 s for them to go.
void KillWineProcesses(const WineSession& session, std::string_view exeName);

} // namespace lumoradex::e2e
