// The button control under real mouse input through X: a host window of the fixture button_host.exe
// holds a few buttons and logs the events they raise; the test moves, presses and releases the
// mouse with xdotool and reads the buttons' faces from screenshots.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <vector>

#include "tests/e2e/e2e.h"
#include "tests/win32/bouton_face_pictures.h"

namespace lumoradex::e2e {
namespace {

constexpr char kHostFolder[] = "C:\\e2e\\button_host";
constexpr char kHostProgram[] = "C:\\e2e\\button_host\\button_host.exe";
constexpr char kHostLog[] = "C:\\e2e\\button_host\\button_host.log";
constexpr char kHostTitle[] = "BoutonLMX host";

// Button ids of the fixture.
constexpr int kTerminer = 1;  // empty icon label visible at left 5 to 15, top 1 to 17
constexpr int kConsulter = 2; // icon hidden

std::vector<Rgb> Colours(const std::vector<unsigned>& rgb) {
    std::vector<Rgb> colours;
    for (unsigned value : rgb)
        colours.push_back({static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 8),
                           static_cast<std::uint8_t>(value)});
    return colours;
}

class BoutonUnderMouse : public testing::Test {
protected:
    void SetUp() override {
        Display().MoveMouse(1, 1);
        std::filesystem::create_directories(scenario.Linux(kHostFolder));
        std::filesystem::copy_file(FixturePath("button_host/button_host.exe"), scenario.Linux(kHostProgram),
                                   std::filesystem::copy_options::overwrite_existing);
        host = &scenario.Start(kHostProgram, {}, kHostFolder);
        ASSERT_TRUE(WaitUntil([&] { return RecordsOfKind(Log(), "button").size() == 4; }, 20s)) << host->Output();
        ASSERT_TRUE(WaitUntil([&] { return Display().FindWindow(kHostTitle).has_value(); }, 20s));
        ASSERT_TRUE(WaitUntil([&] { return Strip(kTerminer) == Colours(testing_host::kBleu); }, 10s))
            << "the host never showed its buttons at rest";
    }

    const XDisplay& Display() const { return scenario.Display(); }

    std::vector<Record> Log() const {
        const auto file = scenario.Linux(kHostLog);
        std::error_code error;
        return std::filesystem::exists(file, error) ? ParseRecords(scenario.ReadFile(kHostLog)) : std::vector<Record>{};
    }

    Rect Button(int id) const {
        for (const Record& record : RecordsOfKind(Log(), "button"))
            if (record.Number("id") == id)
                return {static_cast<int>(record.Number("x")), static_cast<int>(record.Number("y")),
                        static_cast<int>(record.Number("width")), static_cast<int>(record.Number("height"))};
        throw std::out_of_range("no button " + std::to_string(id));
    }

    std::vector<Record> Events(std::string_view kind, int id) const {
        std::vector<Record> events;
        for (const Record& record : RecordsOfKind(Log(), kind))
            if (record.Number("id") == id)
                events.push_back(record);
        return events;
    }

    // The middle strip's column between the caption and the right edge, which no text covers.
    std::vector<Rgb> Strip(int id) const {
        const Rect button = Button(id);
        const std::optional<Image> window = Display().CaptureWindow(kHostTitle);
        std::vector<Rgb> column;
        for (int y = button.top; window && y < button.top + 20; ++y)
            column.push_back(window->AtScreen(button.Right() - 3, y));
        return column;
    }

    Scenario scenario;
    WineProgram* host = nullptr;
};

TEST_F(BoutonUnderMouse, HoverLightsTheFaceAndItFadesBackWhileThePointerRests) {
    const Rect terminer = Button(kTerminer);
    Display().MoveMouse(terminer.left + 90, terminer.top + 10);
    Display().MoveMouse(terminer.left + 100, terminer.top + 10);
    const auto moved = std::chrono::steady_clock::now();
    // A slow screenshot may already see a step of the fade; any of them proves the face was lit.
    const std::vector<Rgb> seen = Strip(kTerminer);
    EXPECT_TRUE(seen == Colours(testing_host::kOrange) || seen == Colours(testing_host::kBleuOO) ||
                seen == Colours(testing_host::kBleuo))
        << "the face did not light under the pointer";
    EXPECT_FALSE(Events("mousemouve", kTerminer).empty());
    EXPECT_TRUE(WaitUntil([&] { return Strip(kTerminer) == Colours(testing_host::kBleu); }, 5s, 20ms));
    std::printf(
        "face back to Bleu %lld ms after the last movement (three ticks of 200 ms)\n",
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - moved).count()));
}

TEST_F(BoutonUnderMouse, LeftAndRightClicksOnTheCaptionRaiseClickUnderTheHourglass) {
    const Rect consulter = Button(kConsulter);
    Display().Click(consulter.left + 70, consulter.top + 10, 1);
    Display().Click(consulter.left + 72, consulter.top + 10, 3);
    ASSERT_TRUE(WaitUntil([&] { return Events("click", kConsulter).size() == 2; }, 10s)) << host->Output();
    for (const Record& click : Events("click", kConsulter))
        EXPECT_EQ(click.Get("pointer"), "hourglass");
}

TEST_F(BoutonUnderMouse, ReleaseAfterDraggingOffTheWindowStillClicks) {
    const Rect terminer = Button(kTerminer);
    Display().MoveMouse(terminer.left + 100, terminer.top + 10);
    Display().PressButton(1);
    Display().MoveMouse(terminer.left + 400, terminer.top + 300);
    Display().ReleaseButton(1);
    EXPECT_TRUE(WaitUntil([&] { return Events("click", kTerminer).size() == 1; }, 10s)) << host->Output();
}

TEST_F(BoutonUnderMouse, ReleaseOnTheBandAboveTheCaptionClicksWithoutLighting) {
    const Rect terminer = Button(kTerminer);
    Display().Click(terminer.left + 100, terminer.top + 1, 1);
    ASSERT_TRUE(WaitUntil([&] { return Events("click", kTerminer).size() == 1; }, 10s)) << host->Output();
    EXPECT_EQ(Events("click", kTerminer)[0].Get("pointer"), "other");
    EXPECT_TRUE(Events("mousemouve", kTerminer).empty());
    EXPECT_EQ(Strip(kTerminer), Colours(testing_host::kBleu));
}

TEST_F(BoutonUnderMouse, PressOnTheVisibleIconRectangleDoesNothing) {
    const Rect terminer = Button(kTerminer);
    Display().Click(terminer.left + 10, terminer.top + 10, 1);
    Display().Click(terminer.left + 6, terminer.top + 2, 3);
    // A later click elsewhere proves the host has handled everything before it.
    const Rect consulter = Button(kConsulter);
    Display().Click(consulter.left + 70, consulter.top + 10, 1);
    ASSERT_TRUE(WaitUntil([&] { return Events("click", kConsulter).size() == 1; }, 10s)) << host->Output();
    EXPECT_TRUE(Events("click", kTerminer).empty());
    EXPECT_TRUE(Events("mousemouve", kTerminer).empty());
    EXPECT_EQ(Strip(kTerminer), Colours(testing_host::kBleu));
}

} // namespace
} // namespace lumoradex::e2e
