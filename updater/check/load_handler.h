#pragma once
// The load handler of Principal: the whole start-up (working folder, mode, version check,
// verdict). It runs again, nested, from the update run to re-read both versions.

#include <string>

#include "updater/check/check_view.h"
#include "updater/ports/environment.h"
#include "updater/ports/transfer.h"

namespace lumoradex {

class LoadHandler {
public:
    LoadHandler(CheckView& window, Environment& environment, Transfer& transfer);

    // One run of the handler; every failing step is skipped (base/failure_rule.h).
    void Run();

private:
    void FixWorkingFolder();
    bool IsInteractive() const;
    void ShowProgress();
    void ReadVersions();
    void ReportCheckImpossible();
    void OfferUpdate();
    void ReportNoUpdateNeeded();
    void CloseInAutomaticMode();

    CheckView& window_;
    Environment& environment_;
    Transfer& transfer_;
    std::string pageVersion_; // PageVersion: the last page fetched, kept from one run to the next
};

} // namespace lumoradex
