#include "controls/bouton_interaction.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "controls/bouton_layout.h"
#include "controls/part_capture.h"

namespace lumoradex {
namespace {

constexpr StatePictures kStates{.orange = 1, .bleuOO = 2, .bleuo = 3, .bleu = 4};
constexpr PictureId kStarting = 5;

class RecordingSurface : public BoutonSurface {
public:
    std::vector<std::string> calls;
    std::function<void()> onClick;
    const BoutonInteraction* interaction = nullptr;

    void StartFadeClock() override { calls.push_back("clock"); }
    void FaceChanged() override { calls.push_back("face"); }
    void CaptionMoved(int) override { calls.push_back("caption"); }
    void CaptionPointerChanged() override {
        calls.push_back(interaction->Pointer() == CaptionPointer::Hourglass ? "hourglass" : "custom");
    }
    void RaiseClick() override {
        calls.push_back("Click");
        if (onClick)
            onClick();
    }
    void RaiseMousemouve() override { calls.push_back("Mousemouve"); }
};

class BoutonInteractionTest : public testing::Test {
protected:
    BoutonInteractionTest() {
        parts.caption.text = "Terminer";
        LayOut(parts, 2295);
        surface.interaction = &interaction;
    }
    BoutonParts parts;
    FaceFade face{kStates, kStarting};
    RecordingSurface surface;
    BoutonInteraction interaction{parts, face, surface};
};

TEST_F(BoutonInteractionTest, ShowStartsTheClockInUserModeOnly) {
    interaction.OnShow(false);
    EXPECT_TRUE(surface.calls.empty());
    interaction.OnShow(true);
    EXPECT_EQ(surface.calls, (std::vector<std::string>{"clock"}));
}

TEST_F(BoutonInteractionTest, PressSinksTheCaptionAndLightsTheFace) {
    interaction.OnCaptionDown();
    EXPECT_EQ(parts.caption.box.top, 60);
    EXPECT_EQ(face.Shown(), kStates.orange);
    EXPECT_EQ(surface.calls, (std::vector<std::string>{"caption", "face"}));
}

TEST_F(BoutonInteractionTest, ReleaseRunsItsStepsInOrder) {
    interaction.OnCaptionDown();
    surface.calls.clear();
    surface.onClick = [&] { EXPECT_EQ(interaction.Pointer(), CaptionPointer::Hourglass); };
    interaction.OnCaptionUp();
    EXPECT_EQ(parts.caption.box.top, 45);
    EXPECT_EQ(interaction.Pointer(), CaptionPointer::Custom);
    EXPECT_EQ(surface.calls, (std::vector<std::string>{"clock", "caption", "hourglass", "Click", "custom"}));
}

TEST_F(BoutonInteractionTest, MoveLightsOnceAndRaisesMousemouveEveryTime) {
    interaction.OnCaptionMove();
    interaction.OnCaptionMove();
    EXPECT_EQ(surface.calls, (std::vector<std::string>{"face", "Mousemouve", "Mousemouve"}));
}

TEST_F(BoutonInteractionTest, GlyphCaptionNeverSinks) {
    parts.caption.text = "4";
    LayOut(parts, 615);
    interaction.OnCaptionDown();
    EXPECT_EQ(parts.caption.box.top, 90);
    interaction.OnCaptionUp();
    EXPECT_EQ(parts.caption.box.top, 90);
    EXPECT_EQ(face.Shown(), kStates.orange);
}

TEST_F(BoutonInteractionTest, ReleaseOnTheStripOnlyRaisesClick) {
    interaction.OnMiddleStripUp();
    EXPECT_EQ(surface.calls, (std::vector<std::string>{"Click"}));
    EXPECT_EQ(interaction.Pointer(), CaptionPointer::Default);
    EXPECT_EQ(parts.caption.box.top, 45);
}

TEST_F(BoutonInteractionTest, FadesBackInThreeTicksAfterHover) {
    interaction.OnTick();
    EXPECT_EQ(face.Shown(), kStarting);
    interaction.OnCaptionMove();
    interaction.OnTick();
    interaction.OnTick();
    interaction.OnTick();
    EXPECT_EQ(face.Shown(), kStates.bleu);
}

TEST_F(BoutonInteractionTest, InnerClickOfTheSameButtonSetsTheCustomPointerEarly) {
    int depth = 0;
    surface.onClick = [&] {
        if (++depth == 1) {
            interaction.OnCaptionUp();
            EXPECT_EQ(interaction.Pointer(), CaptionPointer::Custom);
        }
    };
    interaction.OnCaptionUp();
    EXPECT_EQ(depth, 2);
}

TEST(PartCapture, PressedPartReceivesEverythingUntilTheLastButtonIsUp) {
    PartCapture capture;
    EXPECT_EQ(capture.Press(BoutonPart::Caption), BoutonPart::Caption);
    EXPECT_EQ(capture.Move(BoutonPart::None), BoutonPart::Caption);
    EXPECT_EQ(capture.Press(BoutonPart::MiddleStrip), BoutonPart::Caption);
    EXPECT_EQ(capture.Release(true), BoutonPart::Caption);
    EXPECT_EQ(capture.Release(false), BoutonPart::Caption);
    EXPECT_FALSE(capture.Captured());
    EXPECT_EQ(capture.Move(BoutonPart::LeftEdge), BoutonPart::LeftEdge);
}

TEST(PartCapture, ReleaseWithoutPressReachesNoPart) {
    PartCapture capture;
    EXPECT_EQ(capture.Release(false), BoutonPart::None);
    capture.Press(BoutonPart::IconGlyph);
    capture.Lose();
    EXPECT_EQ(capture.Release(false), BoutonPart::None);
}

} // namespace
} // namespace lumoradex
