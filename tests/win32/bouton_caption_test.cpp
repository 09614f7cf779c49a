#include <gtest/gtest.h>

#include "base/wide_text_win.h"
#include "bouton_test_host.h"

namespace lumoradex {
namespace {

using testing_host::Host;

std::wstring Text(HWND window) {
    wchar_t text[128] = {};
    GetWindowTextW(window, text, 128);
    return text;
}

TEST(BoutonCaption, WindowTextIsTheCaption) {
    Host host;
    HWND action = host.Add(1, "Terminer", 10, 10, 153);
    EXPECT_EQ(Text(action), L"Terminer");
    SetWindowTextW(action, L"Me le rappeler plus tard");
    EXPECT_EQ(Text(action), L"Me le rappeler plus tard");
    PropertySet saved;
    WriteBoutonProperties(action, saved);
    EXPECT_EQ(saved.Read("Libelle", ""), "Me le rappeler plus tard");
}

TEST(BoutonCaption, WritingTheCaptionKeepsTheIconChosenAtRestore) {
    Host host;
    HWND ok = host.Add(1, "Ok", 10, 10, 154);
    SetWindowTextW(ok, L"Annuler");
    const auto face = Host::Render(ok);
    bool green = false, red = false;
    for (int y = 1; y < 18; ++y)
        for (int x = 5; x < 16; ++x) {
            green |= face.At(x, y) == 0x00C000;
            red |= face.At(x, y) == 0xC00000;
        }
    EXPECT_TRUE(green);
    EXPECT_FALSE(red);
}

TEST(BoutonCaption, EmptyCaptionIsNotSavedAndRestoresEmpty) {
    Host host;
    HWND bouton = host.Add(1, "", 10, 10, 154);
    EXPECT_EQ(Text(bouton), L"");
    PropertySet saved{{"Libelle", "Ancien"}};
    WriteBoutonProperties(bouton, saved);
    EXPECT_FALSE(saved.Contains("Libelle"));
}

TEST(BoutonCaption, CreatedWithoutSavedPropertiesKeepsTheDesignCaption) {
    Host host;
    HWND bouton = host.Adopt(CreateWindowExW(0, kBoutonClassName, nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 80, 20,
                                             host.Window(), nullptr, GetModuleHandleW(nullptr), nullptr));
    EXPECT_EQ(Text(bouton), L"Label1");
    ReadBoutonProperties(bouton, PropertySet{{"libelle", "Valider"}});
    EXPECT_EQ(Text(bouton), L"Valider");
}

TEST(BoutonCaption, HostsGenericVisibility) {
    Host host;
    HWND bouton = host.Add(1, "Mettre à jour", 10, 10, 154);
    ShowWindow(bouton, SW_HIDE);
    EXPECT_FALSE(IsWindowVisible(bouton));
    ShowWindow(bouton, SW_SHOWNA);
    EXPECT_TRUE(IsWindowVisible(bouton));
}

} // namespace
} // namespace lumoradex
