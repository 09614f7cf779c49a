#pragma once
// The main window as the update run sees it. Texts are UTF-8. The window implements both; unit
// tests use a fake.

#include <string>

#include "updater/ports/install_progress.h"

namespace lumoradex {

// What keeps the window alive while a run holds its only thread; an elevated instance has none.
class WindowUpkeep {
public:
    virtual ~WindowUpkeep() = default;
    // Processes pending window messages once (paint and input), then returns.
    virtual void FlushMessages() = 0;
    // Repaints the window now without processing input; requests less than 100 ms apart may be dropped.
    virtual void RepaintNow() = 0;
};

// The items the Click handler of MiseAJour reads and writes beyond the progress.
class UpdateRunView : public InstallProgress {
public:
    virtual std::string VLocale() const = 0;
    virtual std::string VSite() const = 0;
    virtual void SetMiseAJourVisible(bool visible) = 0;
    virtual void SetActionCaption(const std::string& caption) = 0;
};

} // namespace lumoradex
