#include <gtest/gtest.h>

#include "bouton_face_pictures.h"
#include "bouton_test_host.h"
#include "controls/bouton_resource.h"
#include "controls/symbol_text_win.h"

namespace lumoradex {
namespace {

using testing_host::Host;
using testing_host::kBleu;
using testing_host::kBleuo;
using testing_host::kBleuOO;
using testing_host::kOrange;

constexpr unsigned kPale = 0xD6E2F4;
constexpr unsigned kBorder = 0x527BCB;
constexpr unsigned kWhite = 0xFFFFFF;

// Columns of the middle strip that the caption text leaves alone on a 154-pixel "Terminer" button.
constexpr int kBareColumns[] = {2, 3, 20, 130, 151};

class BoutonFace : public testing::Test {
protected:
    Host host;
    HWND terminer = host.Add(8, "Terminer", 10, 10, 154);

    void Hover() { SendMessageW(terminer, WM_MOUSEMOVE, 0, MAKELPARAM(100, 10)); }
    void Tick() { SendMessageW(terminer, WM_TIMER, 1, 0); }
    void ExpectStrip(const std::vector<unsigned>& column) {
        const auto rendering = Host::Render(terminer);
        for (int x : kBareColumns)
            EXPECT_EQ(rendering.Column(x), column) << "column " << x;
    }
};

TEST_F(BoutonFace, PicturesAreStoredAsThePartsTablesSay) {
    const HINSTANCE module = GetModuleHandleW(nullptr);
    for (int id : {IDB_BOUTON_BLEU, IDB_BOUTON_BLEUOO, IDB_BOUTON_BLEUO, IDB_BOUTON_ORANGE, IDB_BOUTON_DEPART}) {
        HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(2));
        ASSERT_NE(resource, nullptr) << id;
        EXPECT_EQ(SizeofResource(module, resource), 134u - 14u) << id; // the file less its 14-byte header
    }
    for (int id : {IDB_BOUTON_GAUCHE, IDB_BOUTON_DROITE}) {
        HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(2));
        ASSERT_NE(resource, nullptr) << id;
        EXPECT_EQ(SizeofResource(module, resource), 214u - 14u) << id;
    }
}

TEST_F(BoutonFace, RestingStripShowsTheBleuColumn) {
    EXPECT_EQ(Host::Render(terminer).Height(), 20);
    ExpectStrip(kBleu);
}

TEST_F(BoutonFace, EdgesCloseTheFaceWithCutCorners) {
    const auto face = Host::Render(terminer);
    const int right = face.Width() - 2;
    for (int y : {0, 19}) {
        EXPECT_EQ(face.At(0, y), kPale);
        EXPECT_EQ(face.At(1, y), kPale);
        EXPECT_EQ(face.At(right, y), kPale);
        EXPECT_EQ(face.At(right + 1, y), kPale);
    }
    for (int y : {1, 18}) {
        EXPECT_EQ(face.At(0, y), kPale);
        EXPECT_EQ(face.At(1, y), kBorder);
        EXPECT_EQ(face.At(right, y), kBorder);
        EXPECT_EQ(face.At(right + 1, y), kPale);
    }
    for (int y : {2, 10, 17}) {
        EXPECT_EQ(face.At(0, y), kBorder);
        EXPECT_EQ(face.At(right + 1, y), kBorder);
        EXPECT_EQ(face.At(right, y), kWhite);
    }
}

TEST_F(BoutonFace, HoverLightsAndThreeTicksFadeBack) {
    Tick();
    ExpectStrip(kBleu); // the starting picture is never touched by a tick
    Hover();
    ExpectStrip(kOrange);
    Tick();
    ExpectStrip(kBleuOO);
    Tick();
    ExpectStrip(kBleuo);
    Tick();
    ExpectStrip(kBleu);
    Tick();
    ExpectStrip(kBleu);
}

// Text pixels are the only ones inside the border with a red component under 0x80.
int TopCaptionRow(const testing_host::Rendering& face) {
    for (int y = 1; y < face.Height() - 1; ++y)
        for (int x = 40; x < 115; ++x)
            if ((face.At(x, y) >> 16) < 0x80)
                return y;
    return -1;
}

TEST_F(BoutonFace, CaptionSinksOnePixelWhilePressed) {
    const int resting = TopCaptionRow(Host::Render(terminer));
    ASSERT_GE(resting, 3);
    SendMessageW(terminer, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 10));
    EXPECT_EQ(TopCaptionRow(Host::Render(terminer)), resting + 1);
    SendMessageW(terminer, WM_LBUTTONUP, 0, MAKELPARAM(100, 10));
    EXPECT_EQ(TopCaptionRow(Host::Render(terminer)), resting);
}

TEST_F(BoutonFace, CaptionIsDrawnInItsColourCentred) {
    const auto face = Host::Render(terminer);
    int left = face.Width(), right = -1;
    bool captionColour = false;
    for (int y = 1; y < 19; ++y)
        for (int x = 2; x < face.Width() - 2; ++x)
            if ((face.At(x, y) >> 16) < 0x80) {
                left = std::min(left, x);
                right = std::max(right, x);
                captionColour |= face.At(x, y) == 0x24345C;
            }
    EXPECT_TRUE(captionColour);
    EXPECT_NEAR((left + right) / 2.0, 1 + 150 / 2.0, 2.0);
}

TEST_F(BoutonFace, OneCharacterCaptionMakesATallGlyphButton) {
    HWND glyph = host.Add(9, "4", 200, 10, 40, 20);
    RECT client{};
    GetClientRect(glyph, &client);
    EXPECT_EQ(client.bottom, 41);
    EXPECT_EQ(Host::Render(glyph).Height(), 41);
}

TEST_F(BoutonFace, HostCannotChangeTheHeight) {
    SetWindowPos(terminer, nullptr, 0, 0, 154, 33, SWP_NOMOVE | SWP_NOZORDER);
    RECT client{};
    GetClientRect(terminer, &client);
    EXPECT_EQ(client.bottom, 20);
    EXPECT_EQ(client.right, 154);
}

TEST_F(BoutonFace, WideIconShowsItsGlyph) {
    HWND ok = host.Add(10, "Ok", 10, 40, 154);
    const auto face = Host::Render(ok);
    bool green = false;
    for (int y = 1; y < 18; ++y)
        for (int x = 5; x < 16; ++x)
            green |= face.At(x, y) == 0x00C000;
    EXPECT_TRUE(green);
}

TEST(SymbolFont, WebdingsWhereItHasTheGlyphElseMarlett) {
    UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
    EXPECT_EQ(SymbolFontFor(dc.Get(), L'2'), kWebdings);
    const std::wstring checkMark = SymbolFontFor(dc.Get(), L'a');
    const std::wstring cross = SymbolFontFor(dc.Get(), L'r');
    EXPECT_EQ(checkMark, cross);
    // Windows' Webdings has both; Wine's has only "0" to "6", and Marlett steps in.
    EXPECT_TRUE(checkMark == kWebdings || checkMark == kMarlett);
    std::printf("symbol font for \"a\" and \"r\": %ls\n", checkMark.c_str());
}

} // namespace
} // namespace lumoradex
