#include <gtest/gtest.h>

#include "bouton_face_pictures.h"
#include "bouton_test_host.h"

namespace lumoradex {
namespace {

using testing_host::Event;
using testing_host::Host;

constexpr int kTerminer = 21;
constexpr int kConsulter = 22;

class BoutonMouse : public testing::Test {
protected:
    Host host;
    // Icon label visible but empty (8 characters, 2295 twips), and hidden (26 characters).
    HWND terminer = host.Add(kTerminer, "Terminer", 10, 10, 153);
    HWND consulter = host.Add(kConsulter, "Consulter les mises à jour", 10, 40, 154);

    static void Send(HWND bouton, UINT message, WPARAM buttons, int x, int y) {
        SendMessageW(bouton, message, buttons, MAKELPARAM(x, y));
    }
    // Read on the strip between the caption and the right edge, which no text covers.
    static bool Lit(HWND bouton) {
        const auto face = Host::Render(bouton);
        return face.At(face.Width() - 3, 12) == testing_host::kOrange[12];
    }
};

TEST_F(BoutonMouse, LeftAndRightReleaseOnTheCaptionRaiseClick) {
    Send(terminer, WM_LBUTTONDOWN, MK_LBUTTON, 100, 10);
    Send(terminer, WM_LBUTTONUP, 0, 100, 10);
    Send(terminer, WM_RBUTTONDOWN, MK_RBUTTON, 100, 10);
    Send(terminer, WM_RBUTTONUP, 0, 100, 10);
    Send(terminer, WM_MBUTTONDOWN, MK_MBUTTON, 100, 10);
    Send(terminer, WM_MBUTTONUP, 0, 100, 10);
    EXPECT_EQ(host.Clicks(), (std::vector<Event>(3, Event{kTerminer, kBoutonClick})));
}

TEST_F(BoutonMouse, ReleaseAfterDraggingOffTheControlStillClicks) {
    Send(terminer, WM_LBUTTONDOWN, MK_LBUTTON, 100, 10);
    EXPECT_EQ(GetCapture(), terminer);
    Send(terminer, WM_MOUSEMOVE, MK_LBUTTON, 300, -50);
    Send(terminer, WM_LBUTTONUP, 0, 300, -50);
    EXPECT_EQ(host.Clicks().size(), 1u);
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(BoutonMouse, ReleaseOnAnUncoveredStripClicksWithoutFeedback) {
    for (POINT strip : {POINT{100, 1}, POINT{100, 18}, POINT{150, 10}}) {
        Send(terminer, WM_LBUTTONDOWN, MK_LBUTTON, strip.x, strip.y);
        EXPECT_FALSE(Lit(terminer)) << strip.x << "," << strip.y;
        Send(terminer, WM_LBUTTONUP, 0, strip.x, strip.y);
    }
    EXPECT_EQ(host.Clicks().size(), 3u);
    EXPECT_FALSE(Lit(terminer));
}

TEST_F(BoutonMouse, VisibleIconRectangleSwallowsTheMouse) {
    for (POINT icon : {POINT{5, 1}, POINT{10, 10}, POINT{15, 17}}) {
        Send(terminer, WM_MOUSEMOVE, 0, icon.x, icon.y);
        Send(terminer, WM_LBUTTONDOWN, MK_LBUTTON, icon.x, icon.y);
        Send(terminer, WM_LBUTTONUP, 0, icon.x, icon.y);
    }
    EXPECT_TRUE(host.events.empty());
    EXPECT_FALSE(Lit(terminer));
}

TEST_F(BoutonMouse, HiddenIconLeavesTheWholeCaptionReacting) {
    Send(consulter, WM_MOUSEMOVE, 0, 10, 10);
    EXPECT_TRUE(Lit(consulter));
    Send(consulter, WM_LBUTTONDOWN, MK_LBUTTON, 10, 10);
    Send(consulter, WM_LBUTTONUP, 0, 10, 10);
    EXPECT_EQ(host.Clicks(), (std::vector<Event>{{kConsulter, kBoutonClick}}));
}

TEST_F(BoutonMouse, EdgesDoNotLight) {
    Send(terminer, WM_MOUSEMOVE, 0, 0, 10);
    Send(terminer, WM_MOUSEMOVE, 0, 152, 10);
    Send(terminer, WM_LBUTTONDOWN, MK_LBUTTON, 152, 10);
    Send(terminer, WM_LBUTTONUP, 0, 152, 10);
    EXPECT_TRUE(host.events.empty());
    EXPECT_FALSE(Lit(terminer));
}

TEST_F(BoutonMouse, EveryMovementOverTheCaptionRaisesMousemouve) {
    Send(terminer, WM_MOUSEMOVE, 0, 60, 10);
    Send(terminer, WM_MOUSEMOVE, 0, 61, 10);
    Send(terminer, WM_LBUTTONDOWN, MK_LBUTTON, 61, 10);
    Send(terminer, WM_MOUSEMOVE, MK_LBUTTON, 62, 10);
    Send(terminer, WM_LBUTTONUP, 0, 62, 10);
    EXPECT_EQ(host.events, (std::vector<Event>{{kTerminer, kBoutonMousemouve},
                                               {kTerminer, kBoutonMousemouve},
                                               {kTerminer, kBoutonMousemouve},
                                               {kTerminer, kBoutonClick}}));
}

TEST_F(BoutonMouse, KeysAndFocusNeverClick) {
    SetFocus(terminer);
    for (WPARAM key : {VK_SPACE, VK_RETURN}) {
        SendMessageW(terminer, WM_KEYDOWN, key, 0);
        SendMessageW(terminer, WM_CHAR, key, 0);
        SendMessageW(terminer, WM_KEYUP, key, 0);
    }
    SetFocus(host.Window());
    EXPECT_TRUE(host.events.empty());
    EXPECT_EQ(GetWindowLongW(terminer, GWL_STYLE) & WS_TABSTOP, 0);
}

TEST_F(BoutonMouse, HourglassOverTheCaptionWhileTheHostHandlesClick) {
    RECT box{};
    GetWindowRect(terminer, &box);
    SetCursorPos(box.left + 100, box.top + 10);
    HCURSOR during = nullptr;
    host.onEvent = [&](const Event&) { during = GetCursor(); };
    Send(terminer, WM_LBUTTONDOWN, MK_LBUTTON, 100, 10);
    Send(terminer, WM_LBUTTONUP, 0, 100, 10);
    EXPECT_EQ(during, LoadCursorW(nullptr, IDC_WAIT));
    EXPECT_NE(GetCursor(), during);
}

TEST_F(BoutonMouse, HostMayDestroyTheButtonFromItsClick) {
    host.onEvent = [&](const Event& event) {
        if (event.code == kBoutonClick)
            DestroyWindow(terminer);
    };
    Send(terminer, WM_LBUTTONDOWN, MK_LBUTTON, 100, 10);
    Send(terminer, WM_LBUTTONUP, 0, 100, 10);
    EXPECT_FALSE(IsWindow(terminer));
}

TEST_F(BoutonMouse, ClickRaisedInsideAClickOfTheSameButton) {
    int depth = 0;
    host.onEvent = [&](const Event& event) {
        if (event.code == kBoutonClick && ++depth == 1) {
            Send(terminer, WM_LBUTTONDOWN, MK_LBUTTON, 100, 10);
            Send(terminer, WM_LBUTTONUP, 0, 100, 10);
        }
    };
    Send(terminer, WM_LBUTTONDOWN, MK_LBUTTON, 100, 10);
    Send(terminer, WM_LBUTTONUP, 0, 100, 10);
    EXPECT_EQ(depth, 2);
}

} // namespace
} // namespace lumoradex
