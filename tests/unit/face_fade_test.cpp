#include "controls/face_fade.h"

#include <gtest/gtest.h>

namespace lumoradex {
namespace {

constexpr StatePictures kStates{.orange = 11, .bleuOO = 12, .bleuo = 13, .bleu = 14};
constexpr PictureId kStarting = 15;

FaceFade Showing(PictureId picture) {
    return FaceFade(kStates, picture);
}

TEST(FaceFade, EachTickMovesExactlyOneStep) {
    auto face = Showing(kStates.orange);
    EXPECT_TRUE(face.Tick());
    EXPECT_EQ(face.Shown(), kStates.bleuOO);
    EXPECT_TRUE(face.Tick());
    EXPECT_EQ(face.Shown(), kStates.bleuo);
    EXPECT_TRUE(face.Tick());
    EXPECT_EQ(face.Shown(), kStates.bleu);
    EXPECT_FALSE(face.Tick());
    EXPECT_EQ(face.Shown(), kStates.bleu);
}

TEST(FaceFade, StartingPictureIsNeverTouchedByTicks) {
    auto face = Showing(kStarting);
    for (int tick = 0; tick < 5; ++tick)
        EXPECT_FALSE(face.Tick());
    EXPECT_EQ(face.Shown(), kStarting);
}

TEST(FaceFade, HoverLightsEveryState) {
    for (PictureId from : {kStarting, kStates.orange, kStates.bleuOO, kStates.bleuo, kStates.bleu}) {
        auto face = Showing(from);
        EXPECT_EQ(face.Light(), from != kStates.orange);
        EXPECT_EQ(face.Shown(), kStates.orange);
    }
}

TEST(FaceFade, StatesAreRecognisedByIdentityOnly) {
    // A picture that looks like Bleu (the starting one) is not Bleu: lighting and fading end on Bleu's own identity.
    auto face = Showing(kStarting);
    face.Light();
    face.Tick();
    face.Tick();
    face.Tick();
    EXPECT_EQ(face.Shown(), kStates.bleu);
    EXPECT_NE(face.Shown(), kStarting);
}

} // namespace
} // namespace lumoradex
