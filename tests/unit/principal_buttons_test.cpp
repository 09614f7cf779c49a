#include "updater/window/principal_buttons.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "controls/bouton_layout.h"
#include "controls/bouton_properties.h"

namespace lumoradex {
namespace {

// Restores a saved button as the window does: at its width, then laid out.
BoutonParts Restore(const SavedButton& saved) {
    BoutonParts parts;
    parts.width = saved.width * kTwipsPerPixel;
    ReadProperties(parts, saved.properties);
    LayOut(parts, parts.width);
    return parts;
}

const SavedButton& Saved(PrincipalButton button) {
    for (const auto& saved : SavedButtons())
        if (saved.button == button)
            return saved;
    throw std::out_of_range("no such button");
}

TEST(PrincipalButtons, RestoreTheirFirstCaptionsAsTextButtons) {
    EXPECT_EQ(Restore(Saved(PrincipalButton::BoutonLM1)).caption.text, "Consulter les mises à jour");
    EXPECT_EQ(Restore(Saved(PrincipalButton::MiseAJour)).caption.text, "Mettre à jour");
    EXPECT_EQ(Restore(Saved(PrincipalButton::Action)).caption.text, "Terminer");
    for (const auto& saved : SavedButtons())
        EXPECT_EQ(Restore(saved).height, 300);
}

TEST(PrincipalButtons, ShorterCaptionsHaveAnEmptyVisibleIconLabel) {
    for (PrincipalButton button : {PrincipalButton::MiseAJour, PrincipalButton::Action}) {
        const auto parts = Restore(Saved(button));
        EXPECT_TRUE(parts.icon.visible);
        EXPECT_EQ(parts.icon.text, "");
    }
    EXPECT_FALSE(Restore(Saved(PrincipalButton::BoutonLM1)).icon.visible); // 26 x 130 > 2310
}

} // namespace
} // namespace lumoradex
