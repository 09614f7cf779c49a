// The updater's window holds its three styled buttons as its saved layout places them, and they
// answer the mouse as buttons of their own class.

#include <gtest/gtest.h>

#include "tests/e2e/e2e.h"

namespace lumoradex::e2e {
namespace {

TEST(UpdaterWindowButtons, ThreeBoutonLMXAtTheirPlacesWithTheirCaptions) {
    Scenario scenario;
    WineProgram& updater = scenario.StartInteractive(kScratchFolder, "x");
    std::optional<WindowReport> window = scenario.WaitForWindow(kUpdaterTitle, 20s);
    ASSERT_TRUE(window) << updater.Output();
    const auto buttons = window->ControlsOfClass("BoutonLMX");
    ASSERT_EQ(buttons.size(), 3u) << window->raw;

    const ControlReport* consulter = window->ControlWithText("Consulter les mises à jour");
    ASSERT_NE(consulter, nullptr) << window->raw;
    EXPECT_EQ(consulter->rect, (Rect{221, 86, 154, 20}));
    EXPECT_EQ(consulter->textSource, "message");
    const ControlReport* action = window->ControlAt(221, 130);
    ASSERT_NE(action, nullptr) << window->raw;
    EXPECT_TRUE(action->IsClass("BoutonLMX"));
    EXPECT_EQ(action->rect, (Rect{221, 130, 153, 20}));
    const ControlReport* miseAJour = window->ControlAt(221, 108);
    ASSERT_NE(miseAJour, nullptr) << window->raw;
    EXPECT_TRUE(miseAJour->IsClass("BoutonLMX"));
    EXPECT_EQ(miseAJour->text, "Mettre à jour");
    EXPECT_EQ(miseAJour->rect, (Rect{221, 108, 154, 20}));
}

TEST(UpdaterWindowButtons, ConsulterLightsUnderThePointerAndFadesBack) {
    Scenario scenario;
    scenario.Display().MoveMouse(1, 1);
    WineProgram& updater = scenario.StartInteractive(kScratchFolder, "x");
    std::optional<WindowReport> window = scenario.WaitForWindow(kUpdaterTitle, 20s);
    ASSERT_TRUE(window) << updater.Output();
    // The uncovered strip between the caption and the right edge, client x = 221 + 151.
    auto strip = [&] {
        const std::optional<Image> screen = scenario.Display().CaptureWindow(kUpdaterTitle);
        return screen ? screen->AtScreen(window->ScreenX(372), window->ScreenY(86 + 12)) : Rgb{};
    };
    // Row 12 of the Orange, BleuOO, Bleuo and Bleu pictures.
    const Rgb orange{0xE5, 0xB4, 0x8D};
    const Rgb bleuOO{0xD0, 0xB6, 0xA6};
    const Rgb bleuo{0xAF, 0xB5, 0xC9};
    const Rgb bleu{0x9E, 0xBB, 0xE7};
    ASSERT_TRUE(WaitUntil([&] { return strip() == bleu; }, 10s));
    scenario.Display().MoveMouse(window->ScreenX(290), window->ScreenY(96));
    scenario.Display().MoveMouse(window->ScreenX(300), window->ScreenY(96));
    const Rgb lit = strip();
    // A slow screenshot may already see a step of the fade; any of them proves the face was lit.
    EXPECT_TRUE(lit == orange || lit == bleuOO || lit == bleuo) << lit;
    EXPECT_TRUE(WaitUntil([&] { return strip() == bleu; }, 5s, 20ms));
}

} // namespace
} // namespace lumoradex::e2e
