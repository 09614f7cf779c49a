// The main window as a user meets it: its frame, every control at its place with its text, what the
// screen shows, and the two commands.

#include <gtest/gtest.h>

#include "tests/e2e/e2e.h"

namespace lumoradex::e2e {
namespace {

// Win32 style bits, as the inspector reports them.
constexpr unsigned long kToolWindow = 0x00000080;   // WS_EX_TOOLWINDOW
constexpr unsigned long kAppWindow = 0x00040000;    // WS_EX_APPWINDOW
constexpr unsigned long kSystemMenu = 0x00080000;   // WS_SYSMENU
constexpr unsigned long kMinimizeBox = 0x00020000;  // WS_MINIMIZEBOX
constexpr unsigned long kMaximizeBox = 0x00010000;  // WS_MAXIMIZEBOX
constexpr unsigned long kSizingFrame = 0x00040000;  // WS_THICKFRAME
constexpr unsigned long kReadOnly = 0x0800;         // ES_READONLY
constexpr long kShowMinimized = 2;                  // SW_SHOWMINIMIZED

const Rgb kWhite{255, 255, 255};
const Rgb kFrameGrey{192, 192, 192};
const Rgb kInactiveBorder{178, 178, 178};
const Rect kImage2{220, 107, 155, 23};

std::string SupportPage() { return "http://127.0.0.1:" + std::to_string(UpdateServerPort()) + "/support.htm"; }

// Installed 4.2.0, server offering 4.2.1 with the new executable and nothing else (the other files
// answer 404, which leaves them out without failing the run).
void OfferUpdate(Scenario& scenario) {
    scenario.PlaceVelmor("4.2.0.0", kScratchFolder);
    scenario.Server().SetVersionPage("4.2.1");
    scenario.Server().SetFile("Velmor.exe", Scenario::VelmorBytes("4.2.0.1"));
}

bool OrangeText(const Rgb& pixel) { return pixel.red > 200 && pixel.green > 80 && pixel.green < 200 && pixel.blue < 120; }

// Waits until the status line reads the text; the window's last report is left in `window`.
bool WaitForMessage(const Scenario& scenario, std::string_view text, std::optional<WindowReport>& window,
                    std::chrono::milliseconds timeout = 20s) {
    return WaitUntil(
        [&] {
            window = scenario.Inspect();
            const auto items = window ? UpdaterItems::Of(*window) : UpdaterItems{};
            return items.message && items.message->text == text;
        },
        timeout);
}

TEST(UpdaterWindow, AtCreationEveryControlHoldsItsFirstValues) {
    Scenario scenario;
    // No application anywhere and a server that never answers: the window is caught hidden, before
    // the check has written anything but the unreadable installed version.
    scenario.Server().Set("/version.htm", Reply::Stall());
    WineProgram& updater = scenario.StartAutomatic(kScratchFolder);
    ASSERT_TRUE(scenario.Server().WaitForRequests("/version.htm", 1, 20s)) << updater.Output();
    std::optional<WindowReport> window = scenario.Inspect();
    ASSERT_TRUE(window) << updater.Output();

    EXPECT_FALSE(window->visible);
    EXPECT_EQ(window->clientWidth, 381);
    EXPECT_EQ(window->clientHeight, 157);
    EXPECT_TRUE(window->exStyle & kToolWindow);
    EXPECT_FALSE(window->exStyle & kAppWindow) << "no taskbar button";
    EXPECT_TRUE(window->style & kSystemMenu);
    EXPECT_FALSE(window->style & (kMinimizeBox | kMaximizeBox | kSizingFrame));

    struct Expected {
        const char* className;
        Rect rect;
        const char* text;
    };
    const Expected expected[] = {
        {"Static", {143, 14, 175, 17}, "Votre version de Lumoradex"},
        {"Edit", {327, 12, 48, 19}, "0.0.0"},
        {"Static", {86, 37, 232, 17}, "Dernière version disponible de Lumoradex"},
        {"Edit", {327, 34, 48, 19}, "0.0.0"},
        {"Edit", {90, 64, 285, 13}, ""},
        {"Static", {12, 91, 195, 61},
         "La mise à jour ou la réinstallation de l'application n'affectent par les données. Les licences et le "
         "numéro de série sont préservés."},
        {"BoutonLMX", {221, 86, 154, 20}, "Consulter les mises à jour"},
        {"BoutonLMX", {221, 108, 154, 20}, "Mettre à jour"},
        {"BoutonLMX", {221, 130, 153, 20}, "Terminer"},
        {"Static", {10, 8, 71, 69}, ""},
        {"Static", kImage2, ""},
    };
    ASSERT_EQ(window->controls.size(), std::size(expected)) << window->raw;
    // Z order is creation order: tab order first, the pictures beneath everything. The window's
    // thread is blocked in the fetch, so the inspector reads the text the system keeps for each
    // control; an edit box keeps its text to itself, so the boxes' texts cannot be read here.
    for (size_t i = 0; i < std::size(expected); ++i) {
        const ControlReport& control = window->controls[i];
        EXPECT_TRUE(control.IsClass(expected[i].className)) << i << ": " << control.className;
        EXPECT_EQ(control.rect, expected[i].rect) << i;
        if (!control.IsClass("Edit")) {
            EXPECT_EQ(control.text, expected[i].text) << i;
        }
        EXPECT_TRUE(control.visible) << i;
    }
    // The boxes are read-only: the user reads what the check wrote.
    for (size_t box : {1u, 3u, 4u})
        EXPECT_TRUE(window->controls[box].style & kReadOnly) << box;
}

TEST(UpdaterWindow, TheScreenShowsFramesStatusAndButtonsOnWhite) {
    Scenario scenario;
    OfferUpdate(scenario);
    WineProgram& updater = scenario.StartInteractive(kScratchFolder, "x");
    std::optional<WindowReport> window = WaitForOffer(scenario, 20s);
    ASSERT_TRUE(window) << updater.Output();
    ASSERT_TRUE(window->visible);
    EXPECT_TRUE(window->topmost);
    const Image screen = scenario.Display().CaptureScreen();
    auto at = [&](int x, int y) { return screen.AtScreen(window->ScreenX(x), window->ScreenY(y)); };

    EXPECT_EQ(at(200, 4), kWhite);
    EXPECT_EQ(at(100, 80), kWhite);
    // Shape2 (7, 83, 206 x 70) and Shape1 (218, 83, 159 x 70): one-pixel light-grey borders,
    // nothing inside but what they frame.
    EXPECT_EQ(at(100, 83), kFrameGrey);
    EXPECT_EQ(at(7, 120), kFrameGrey);
    EXPECT_EQ(at(212, 120), kFrameGrey);
    EXPECT_EQ(at(100, 152), kFrameGrey);
    EXPECT_EQ(at(218, 120), kFrameGrey);
    EXPECT_EQ(at(376, 120), kFrameGrey);
    EXPECT_EQ(at(300, 84), kWhite);
    // The status line's orange text inside its rectangle.
    EXPECT_GT(screen.CountInScreenRect(window->ScreenRect({90, 64, 285, 13}), OrangeText), 20);
    // The buttons' border rows are the face's #527BCB.
    EXPECT_EQ(at(300, 86), (Rgb{0x52, 0x7B, 0xCB}));
    EXPECT_EQ(at(300, 108), (Rgb{0x52, 0x7B, 0xCB}));
    EXPECT_EQ(at(300, 149), (Rgb{0x52, 0x7B, 0xCB}));
    // The version boxes are framed (an edit box draws its frame itself); the status line is not.
    const auto inkOnTopRow = [&](const Rect& box) {
        return screen.CountInScreenRect(window->ScreenRect({box.left, box.top, box.width, 1}),
                                        [](const Rgb& p) { return !(p == kWhite); });
    };
    EXPECT_EQ(inkOnTopRow({327, 12, 48, 19}), 48);
    EXPECT_EQ(inkOnTopRow({327, 34, 48, 19}), 48);
    EXPECT_EQ(inkOnTopRow({90, 64, 285, 13}), 0);
    // MiseAJour covers the inactive picture.
    EXPECT_EQ(screen.CountInScreenRect(window->ScreenRect(kImage2), [](const Rgb& p) { return p == kInactiveBorder; }),
              0);
    screen.SavePng(scenario.OutputFolder() / "offer.png");
}

TEST(UpdaterWindow, WhileMiseAJourIsHiddenTheInactivePictureStandsInItsPlaceAndIgnoresClicks) {
    Scenario scenario;
    OfferUpdate(scenario);
    WineProgram& updater = scenario.StartInteractive(kScratchFolder, "x");
    const Rect miseAJour{221, 108, 154, 20};
    std::optional<WindowReport> window = WaitForOffer(scenario, 20s);
    ASSERT_TRUE(window) << updater.Output();
    scenario.Display().Click(window->ScreenX(miseAJour.CenterX()), window->ScreenY(miseAJour.CenterY()));
    ASSERT_TRUE(WaitForMessage(scenario, "Téléchargements terminés, mise à jour OK", window, 60s))
        << updater.Output();
    EXPECT_FALSE(UpdaterItems::Of(*window).miseAJour->visible);

    const Image screen = scenario.Display().CaptureScreen();
    EXPECT_GT(screen.CountInScreenRect(window->ScreenRect(kImage2), [](const Rgb& p) { return p == kInactiveBorder; }),
              300);

    const int requestsBefore = static_cast<int>(scenario.Server().Requests().size());
    scenario.Display().Click(window->ScreenX(miseAJour.CenterX()), window->ScreenY(miseAJour.CenterY()));
    scenario.Display().Click(window->ScreenX(kImage2.left + 1), window->ScreenY(kImage2.top + 1));
    // Give a click that would start a run the time to reach the server: nothing may arrive.
    EXPECT_FALSE(WaitUntil(
        [&] { return static_cast<int>(scenario.Server().Requests().size()) > requestsBefore; }, 3s));
    window = scenario.Inspect();
    ASSERT_TRUE(window);
    EXPECT_EQ(UpdaterItems::Of(*window).message->text, "Téléchargements terminés, mise à jour OK");
    EXPECT_TRUE(updater.Running());
}

TEST(UpdaterWindow, ActionEndsTheProgramAlsoWhileItOffersToRemindLater) {
    Scenario scenario;
    OfferUpdate(scenario);
    WineProgram& updater = scenario.StartAutomatic(kScratchFolder);
    std::optional<WindowReport> window = scenario.WaitForWindow(kUpdaterTitle, 20s);
    ASSERT_TRUE(window) << updater.Output();
    const ControlReport* action = UpdaterItems::Of(*window).action;
    ASSERT_NE(action, nullptr);
    ASSERT_EQ(action->text, "Me le rappeler plus tard");
    scenario.Display().Click(window->ScreenX(action->rect.CenterX()), window->ScreenY(action->rect.CenterY()));
    EXPECT_EQ(updater.WaitForExit(20s), 0);
    EXPECT_EQ(scenario.Server().RequestCount("/majv4/Velmor.exe"), 0);
}

TEST(UpdaterWindow, ActionEndsTheProgramWhenItReadsTerminer) {
    Scenario scenario;
    WineProgram& updater = scenario.StartInteractive(kScratchFolder, "x");
    std::optional<WindowReport> window = scenario.WaitForWindow(kUpdaterTitle, 20s);
    ASSERT_TRUE(window) << updater.Output();
    ASSERT_TRUE(WaitForMessage(scenario, "Impossible de contrôler les versions", window));
    const ControlReport* action = UpdaterItems::Of(*window).action;
    ASSERT_EQ(action->text, "Terminer");
    scenario.Display().Click(window->ScreenX(action->rect.CenterX()), window->ScreenY(action->rect.CenterY()));
    EXPECT_EQ(updater.WaitForExit(20s), 0);
}

TEST(UpdaterWindow, EachClickOnConsulterOpensTheSupportPageOnceAndLeavesTheWindowAsItWas) {
    Scenario scenario;
    scenario.PlaceUpdater();
    scenario.PlaceFakeExplorer(kUpdaterFolder);
    WineProgram& updater = scenario.StartInteractive(kScratchFolder, "x");
    std::optional<WindowReport> window;
    ASSERT_TRUE(WaitForMessage(scenario, "Impossible de contrôler les versions", window))
        << updater.Output();
    const Rect consulter = UpdaterItems::Of(*window).boutonLM1->rect;
    for (int click = 1; click <= 2; ++click) {
        scenario.Display().Click(window->ScreenX(consulter.CenterX()), window->ScreenY(consulter.CenterY()));
        ASSERT_TRUE(WaitUntil([&] { return scenario.ExplorerLog(kUpdaterFolder).size() == size_t(click); }, 20s));
    }
    EXPECT_FALSE(WaitUntil([&] { return scenario.ExplorerLog(kUpdaterFolder).size() > 2; }, 2s));
    for (const Record& start : scenario.ExplorerLog(kUpdaterFolder)) {
        EXPECT_NE(start.Get("command_line").find(SupportPage()), std::string::npos) << start.Get("command_line");
        EXPECT_EQ(start.Number("show"), kShowMinimized);
    }
    std::optional<WindowReport> after = scenario.Inspect();
    ASSERT_TRUE(after);
    EXPECT_TRUE(after->visible);
    EXPECT_EQ(UpdaterItems::Of(*after).message->text, "Impossible de contrôler les versions");
    EXPECT_TRUE(updater.Running());
}

TEST(UpdaterWindow, TheCloseBoxEndsTheProgramDuringAnUpdateLeavingEveryFileWhole) {
    Scenario scenario;
    OfferUpdate(scenario);
    const std::string oldPrm(4000, 'o');
    const std::string newPrm(4100, 'n');
    scenario.WriteFile(std::string(kScratchFolder) + "\\Velmor.prm", oldPrm);
    // The first file crawls in, so the close request arrives while the run is in its middle.
    scenario.Server().Set("/majv4/Velmor.prm", Reply::Ok(newPrm).Throttled(1000));
    WineProgram& updater = scenario.StartInteractive(kScratchFolder, "x");
    std::optional<WindowReport> window = WaitForOffer(scenario, 20s);
    ASSERT_TRUE(window) << updater.Output();
    const Rect miseAJour = UpdaterItems::Of(*window).miseAJour->rect;
    scenario.Display().Click(window->ScreenX(miseAJour.CenterX()), window->ScreenY(miseAJour.CenterY()));
    ASSERT_TRUE(scenario.Server().WaitForRequests("/majv4/Velmor.prm", 1, 20s));
    ASSERT_TRUE(scenario.PostClose(kUpdaterTitle));
    EXPECT_TRUE(updater.WaitForExit(30s).has_value());
    const std::string prm = scenario.ReadFile(std::string(kScratchFolder) + "\\Velmor.prm");
    EXPECT_TRUE(prm == oldPrm || prm == newPrm) << prm.size() << " bytes";
    EXPECT_EQ(scenario.Server().RequestCount("/majv4/Velmor.exe"), 0) << "the run went no further";
}

} // namespace
} // namespace lumoradex::e2e
