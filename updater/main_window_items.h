#pragma once
// The main window's items as the handlers see them: text boxes, buttons and the window itself.
// Texts are UTF-8. The Win32 window implements it; unit tests use an in-memory fake.

#include <string>

namespace lumoradex {

class MainWindowItems {
public:
    virtual ~MainWindowItems() = default;

    virtual std::string VLocale() const = 0;
    virtual void SetVLocale(const std::string& text) = 0;
    virtual std::string VSite() const = 0;
    virtual void SetVSite(const std::string& text) = 0;
    virtual std::string Message() const = 0;
    virtual void SetMessage(const std::string& text) = 0;

    virtual void SetMiseAJourVisible(bool visible) = 0;
    virtual void SetActionCaption(const std::string& caption) = 0;

    virtual void Show() = 0;
    virtual void MakeTopMost() = 0;
    // Closes (unloads) the window; the program ends once no handler runs any more.
    virtual void Close() = 0;
    virtual bool IsClosed() const = 0;

    // Processes pending window messages once (paint and input), then returns.
    virtual void FlushMessages() = 0;
    // Repaints the window now without processing input; requests less than 100 ms apart may be dropped.
    virtual void RepaintNow() = 0;
};

} // namespace lumoradex
