#pragma once
// The main window as the version check sees it: the two version boxes, the verdict, the update's
// offer and the window itself. Texts are UTF-8. The window implements it; unit tests use a fake.

#include <string>

namespace lumoradex {

class CheckView {
public:
    virtual ~CheckView() = default;

    virtual std::string VLocale() const = 0;
    virtual void SetVLocale(const std::string& text) = 0;
    virtual std::string VSite() const = 0;
    virtual void SetVSite(const std::string& text) = 0;
    virtual void SetMessage(const std::string& text) = 0;
    virtual void SetMiseAJourVisible(bool visible) = 0;
    virtual void SetActionCaption(const std::string& caption) = 0;

    virtual void Show() = 0;
    virtual void MakeTopMost() = 0;
    // Closes (unloads) the window; the program ends once no handler runs any more.
    virtual void Close() = 0;
    // Processes pending window messages once (paint and input), then returns.
    virtual void FlushMessages() = 0;
};

} // namespace lumoradex
