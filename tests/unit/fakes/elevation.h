#pragma once
// Which folders this process may write, and what the elevated instance would do. What is asked of it
// goes into the log of events that the other fakes of a test share.

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/step_failure.h"
#include "updater/ports/elevation.h"

namespace lumoradex::fakes {

class FakeElevation final : public Elevation {
public:
    explicit FakeElevation(std::vector<std::string>& events) : events_(events) {}

    std::set<std::string> readOnlyFolders;
    std::optional<int> elevatedExitCode = 0;   // nothing: the prompt is declined
    std::vector<std::string> elevatedProgress; // the texts the elevated instance sends
    std::function<void()> whileElevated;       // run while the elevated instance would
    bool failCheck = false;
    std::vector<std::string> elevatedPrograms; // the program each elevation would start

    bool MayWriteIn(const std::string& folder, std::span<const std::string_view> names) override {
        events_.push_back("may write " + folder);
        if (failCheck)
            throw StepFailure("MayWriteIn", 5);
        return names.size() != 7 || !readOnlyFolders.contains(folder);
    }
    std::uintptr_t ProgressWindow() const override { return 0x1234; }
    std::optional<int> RunElevated(const std::string& program, const std::string& arguments,
                                   const std::function<void(const std::string&)>& progress) override {
        events_.push_back("elevate " + arguments);
        elevatedPrograms.push_back(program);
        for (const std::string& text : elevatedProgress)
            progress(text);
        if (whileElevated)
            whileElevated();
        return elevatedExitCode;
    }

private:
    std::vector<std::string>& events_;
};

} // namespace lumoradex::fakes
