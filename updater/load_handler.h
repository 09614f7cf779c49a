#pragma once
// The load handler of Principal: the whole start-up (working folder, mode, version check,
// verdict). It runs again, nested, from the update run to re-read both versions.

#include <string>

#include "updater/environment.h"
#include "updater/main_window_items.h"
#include "updater/transfer.h"

namespace lumoradex {

class LoadHandler {
public:
    LoadHandler(MainWindowItems& window, Environment& environment, Transfer& transfer);

    // One run of the handler; every failing step is skipped (failure_rule.h).
    void Run();

    // PageVersion: the last version page fetched successfully, kept from one run to the next.
    const std::string& PageVersion() const { return pageVersion_; }

private:
    void FixWorkingFolder();
    bool IsInteractive() const;
    void ShowProgress();
    void ReadVersions();
    void ReportCheckImpossible();
    void OfferUpdate();
    void ReportNoUpdateNeeded();
    void CloseInAutomaticMode();

    MainWindowItems& window_;
    Environment& environment_;
    Transfer& transfer_;
    std::string pageVersion_;
};

} // namespace lumoradex
