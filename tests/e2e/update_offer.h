#pragma once
// The updater's offer of an update and the messages that end a run, as the end-to-end tests, the
// fault-injection tests and the benchmarks wait for them.

#include <chrono>
#include <optional>

#include "tests/e2e/scenario.h"
#include "tests/e2e/window_report.h"

namespace lumoradex::e2e {

inline constexpr char kOfferMessage[] = "Des mises \xC3\xA0 jour sont disponibles";
inline constexpr char kUpdateOk[] = "T\xC3\xA9l\xC3\xA9"
                                    "chargements termin\xC3\xA9s, mise \xC3\xA0 jour OK";
inline constexpr char kUpdateFailed[] = "T\xC3\xA9l\xC3\xA9"
                                        "chargements termin\xC3\xA9s, Echec de MAJ";
// The progress message of a run while it downloads a file, up to the file's name and ")".
inline constexpr char kDownloadingPrefix[] = "Veuillez patienter, t\xC3\xA9l\xC3\xA9"
                                             "chargement en cours (";

// The shown window once its offer of the update is complete ("Mettre à jour" visible, the window
// top-most); nothing after the time-out.
std::optional<WindowReport> WaitForOffer(const Scenario& scenario, std::chrono::milliseconds timeout);

} // namespace lumoradex::e2e
