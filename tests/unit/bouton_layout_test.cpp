#include "controls/bouton_layout.h"

#include <gtest/gtest.h>

#include <string>

namespace lumoradex {
namespace {

BoutonParts WithCaption(const std::string& caption) {
    BoutonParts parts;
    parts.caption.text = caption;
    return parts;
}

TEST(BoutonLayout, OneCharacterOutsideNSignsMakesAGlyphButton) {
    for (const char* caption : {"4", "a", "n", "s", "é", "?"})
        EXPECT_EQ(FormOf(caption), BoutonForm::Glyph) << caption;
    for (const char* caption : {"N", "S", "<", ">", "+", "-", "", "Ok", "NS"})
        EXPECT_EQ(FormOf(caption), BoutonForm::Text) << caption;
}

TEST(BoutonLayout, GlyphButtonIs615TwipsWithTheSymbolCaption) {
    auto parts = WithCaption("4");
    LayOut(parts, 1200);
    EXPECT_EQ(parts.height, 615);
    EXPECT_EQ(parts.leftEdge.height, 615);
    EXPECT_EQ(parts.rightEdge.height, 615);
    EXPECT_EQ(parts.middleStrip.height, 615);
    EXPECT_EQ(parts.caption.fontName, "Webdings");
    EXPECT_EQ(parts.caption.fontPoints, 18);
    EXPECT_EQ(parts.caption.box.top, 90);
    EXPECT_EQ(parts.caption.box.height, 600);
    EXPECT_EQ(parts.caption.foreColour, 0x5C3424u);
}

TEST(BoutonLayout, TextButtonIs300TwipsAndLeavesTheCaptionAlone) {
    for (const char* caption : {"", "N", "+", "Terminer"}) {
        auto parts = WithCaption(caption);
        parts.height = 500; // the host asked for 500
        LayOut(parts, 1200);
        EXPECT_EQ(parts.height, 300) << caption;
        EXPECT_EQ(parts.middleStrip.height, 300) << caption;
        EXPECT_EQ(parts.caption.fontName, "Arial") << caption;
        EXPECT_EQ(parts.caption.fontPoints, 8.25) << caption;
        EXPECT_EQ(parts.caption.box.top, 45) << caption;
        EXPECT_EQ(parts.caption.box.height, 225) << caption;
    }
}

TEST(BoutonLayout, GlyphCaptionSettingsStickAfterTheCaptionBecomesText) {
    auto parts = WithCaption("4");
    LayOut(parts, 1200);
    parts.caption.text = "Mettre à jour";
    LayOut(parts, 2310);
    EXPECT_EQ(parts.height, 300);
    EXPECT_EQ(parts.middleStrip.height, 300);
    EXPECT_EQ(parts.caption.fontName, "Webdings");
    EXPECT_EQ(parts.caption.fontPoints, 18);
    EXPECT_EQ(parts.caption.box.top, 90);
    EXPECT_EQ(parts.caption.box.height, 600);
}

struct WidthCase {
    int width;
    int rightEdgeLeft;
    int stripWidth;
};

class BoutonLayoutWidth : public testing::TestWithParam<WidthCase> {};

TEST_P(BoutonLayoutWidth, EdgesHugTheSides) {
    auto parts = WithCaption("Terminer");
    LayOut(parts, GetParam().width);
    EXPECT_EQ(parts.width, GetParam().width);
    EXPECT_EQ(parts.rightEdge.left, GetParam().rightEdgeLeft);
    EXPECT_EQ(parts.rightEdge.width, 30);
    EXPECT_EQ(parts.middleStrip.left, 30);
    EXPECT_EQ(parts.middleStrip.width, GetParam().stripWidth);
    EXPECT_EQ(parts.caption.box.left, 15);
    EXPECT_EQ(parts.caption.box.width, GetParam().stripWidth);
    EXPECT_EQ(parts.leftEdge.left, 0);
}

INSTANTIATE_TEST_SUITE_P(Widths, BoutonLayoutWidth,
                         testing::Values(WidthCase{100, 70, 40}, WidthCase{1000, 970, 940}, WidthCase{1001, 971, 941},
                                         WidthCase{2310, 2280, 2250}),
                         [](const auto& info) { return std::to_string(info.param.width) + "Twips"; });

TEST(BoutonLayout, WidthsBelowSixtyTwipsGiveEmptyStrips) {
    auto parts = WithCaption("Ok");
    LayOut(parts, 45);
    EXPECT_EQ(parts.middleStrip.width, 0);
    EXPECT_EQ(parts.caption.box.width, 0);
    EXPECT_EQ(parts.rightEdge.left, 15);
}

TEST(BoutonLayout, RunningTwiceChangesNothing) {
    for (const char* caption : {"4", "Terminer"}) {
        auto once = WithCaption(caption);
        LayOut(once, 2310);
        auto twice = once;
        LayOut(twice, 2310);
        EXPECT_EQ(twice.height, once.height);
        EXPECT_EQ(twice.caption.box.top, once.caption.box.top);
        EXPECT_EQ(twice.caption.box.width, once.caption.box.width);
        EXPECT_EQ(twice.rightEdge.left, once.rightEdge.left);
    }
}

} // namespace
} // namespace lumoradex
