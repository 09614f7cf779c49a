#include "controls/bouton_geometry.h"

#include <gtest/gtest.h>

#include "controls/bouton_layout.h"
#include "controls/bouton_properties.h"

namespace lumoradex {
namespace {

// MiseAJour on the main window: 154 x 20 px, "Mettre à jour", icon label visible but empty.
BoutonParts MiseAJour() {
    BoutonParts parts;
    parts.width = 2310;
    ReadProperties(parts, PropertySet{{"Libelle", "Mettre à jour"}});
    LayOut(parts, 2310);
    return parts;
}

TEST(BoutonHitTest, PlacesInPixels) {
    auto parts = MiseAJour();
    EXPECT_EQ(ToPixels(parts.caption.box), (PixelRect{1, 3, 151, 18}));
    EXPECT_EQ(ToPixels(parts.middleStrip), (PixelRect{2, 0, 152, 20}));
    EXPECT_EQ(ToPixels(parts.rightEdge), (PixelRect{152, 0, 154, 20}));
    EXPECT_EQ(ToPixels(parts.icon.box), (PixelRect{5, 1, 16, 18}));
}

TEST(BoutonHitTest, VisibleIconSwallowsTheMouseEvenWhenEmpty) {
    auto parts = MiseAJour();
    ASSERT_TRUE(parts.icon.visible);
    ASSERT_EQ(parts.icon.text, "");
    EXPECT_EQ(HitTest(parts, 5, 10), BoutonPart::IconGlyph);
    EXPECT_EQ(HitTest(parts, 15, 1), BoutonPart::IconGlyph);
    EXPECT_EQ(HitTest(parts, 16, 10), BoutonPart::Caption);
}

TEST(BoutonHitTest, HiddenIconLetsTheCaptionReact) {
    BoutonParts parts;
    parts.width = 2310;
    ReadProperties(parts, PropertySet{{"Libelle", "Consulter les mises à jour"}});
    LayOut(parts, 2310);
    ASSERT_FALSE(parts.icon.visible);
    EXPECT_EQ(HitTest(parts, 5, 10), BoutonPart::Caption);
}

TEST(BoutonHitTest, CaptionLiesOverTheLeftEdgeAndLeavesStripsUncovered) {
    auto parts = MiseAJour();
    EXPECT_EQ(HitTest(parts, 0, 10), BoutonPart::LeftEdge);
    EXPECT_EQ(HitTest(parts, 1, 10), BoutonPart::Caption);
    EXPECT_EQ(HitTest(parts, 100, 2), BoutonPart::MiddleStrip); // band above the caption
    EXPECT_EQ(HitTest(parts, 100, 3), BoutonPart::Caption);
    EXPECT_EQ(HitTest(parts, 100, 17), BoutonPart::Caption);
    EXPECT_EQ(HitTest(parts, 100, 18), BoutonPart::MiddleStrip); // band below it
    EXPECT_EQ(HitTest(parts, 150, 10), BoutonPart::Caption);
    EXPECT_EQ(HitTest(parts, 151, 10), BoutonPart::MiddleStrip); // between caption and right edge
    EXPECT_EQ(HitTest(parts, 152, 10), BoutonPart::RightEdge);
    EXPECT_EQ(HitTest(parts, 154, 10), BoutonPart::None);
    EXPECT_EQ(HitTest(parts, 100, 20), BoutonPart::None);
}

TEST(BoutonHitTest, PressedCaptionReachesOneRowLower) {
    auto parts = MiseAJour();
    parts.caption.box.top = 60;
    EXPECT_EQ(HitTest(parts, 100, 3), BoutonPart::MiddleStrip);
    EXPECT_EQ(HitTest(parts, 100, 18), BoutonPart::Caption);
}

TEST(BoutonHitTest, GlyphCaptionIsClippedToTheButton) {
    BoutonParts parts;
    parts.caption.text = "4";
    LayOut(parts, 600);
    EXPECT_EQ(HitTest(parts, 20, 5), BoutonPart::MiddleStrip);
    EXPECT_EQ(HitTest(parts, 20, 6), BoutonPart::Caption);
    EXPECT_EQ(HitTest(parts, 20, 40), BoutonPart::Caption);
    EXPECT_EQ(HitTest(parts, 20, 41), BoutonPart::None);
}

} // namespace
} // namespace lumoradex
