#include "controls/bouton_icon.h"

#include <gtest/gtest.h>

#include "controls/bouton_properties.h"

namespace lumoradex {
namespace {

BoutonParts Restored(const std::string& caption, int width = 3000) {
    BoutonParts parts;
    parts.width = width;
    ReadProperties(parts, PropertySet{{"Libelle", caption}});
    return parts;
}

TEST(BoutonIcon, ExactWordsChooseCheckMarkOrCross) {
    for (const char* word : {"Ok", "Synchroniser", "Valider", "Appliquer"}) {
        auto parts = Restored(word);
        EXPECT_EQ(parts.icon.text, "a") << word;
        EXPECT_EQ(parts.icon.foreColour, 0x00C000u) << word;
    }
    for (const char* word : {"Annuler", "Supprimer"}) {
        auto parts = Restored(word);
        EXPECT_EQ(parts.icon.text, "r") << word;
        EXPECT_EQ(parts.icon.foreColour, 0x0000C0u) << word;
    }
}

TEST(BoutonIcon, WordsCompareWholeAndCaseSensitively) {
    for (const char* caption : {"ok", "OK", "Ok ", "Okay", "annuler", "Valider tout", "Terminer", ""})
        EXPECT_EQ(Restored(caption).icon.text, "") << caption;
}

TEST(BoutonIcon, NouveAnywhereOverridesTheWords) {
    for (const char* caption : {"Nouveau", "Nouve", "Une Nouvelle version", "xNouve"}) {
        auto parts = Restored(caption);
        EXPECT_EQ(parts.icon.text, "2") << caption;
        EXPECT_EQ(parts.icon.foreColour, 0x8C6444u) << caption;
    }
    EXPECT_EQ(Restored("nouveau").icon.text, "");
    EXPECT_EQ(Restored("NOUVEAU").icon.text, "");
}

TEST(BoutonIcon, EveryRestoreClearsThePreviousIcon) {
    auto parts = Restored("Annuler");
    ReadProperties(parts, PropertySet{{"Libelle", "Terminer"}});
    EXPECT_EQ(parts.icon.text, "");
}

TEST(BoutonIcon, ShowsOnlyAboveOneThousandTwips) {
    EXPECT_FALSE(Restored("Ok", 1000).icon.visible);
    EXPECT_TRUE(Restored("Ok", 1001).icon.visible);
    EXPECT_FALSE(Restored("", 1000).icon.visible);
    EXPECT_TRUE(Restored("", 1001).icon.visible);
}

TEST(BoutonIcon, NeedsMoreThan130TwipsPerCharacter) {
    EXPECT_TRUE(Restored("Valider", 1001).icon.visible);   // 7 x 130 = 910
    EXPECT_FALSE(Restored("Appliqu8", 1001).icon.visible); // 8 x 130 = 1040
    EXPECT_FALSE(Restored("Appliqu8", 1040).icon.visible);
    EXPECT_TRUE(Restored("Appliqu8", 1041).icon.visible);
}

TEST(BoutonIcon, CountsCharactersNotBytes) {
    // 26 characters, 27 bytes: 3380 twips is exactly 130 per character.
    EXPECT_FALSE(Restored("Consulter les mises à jour", 3380).icon.visible);
    EXPECT_TRUE(Restored("Consulter les mises à jour", 3381).icon.visible);
}

TEST(BoutonIcon, ProductBeyondThirtyTwoBitsNeverShows) {
    EXPECT_TRUE(IconShows(2147483647, 16519104));  // 130 x 16519104 = 2147483520
    EXPECT_FALSE(IconShows(2147483647, 16519105)); // 2147483650 leaves the range
    EXPECT_FALSE(IconShows(2147483647, static_cast<std::size_t>(-1)));
}

} // namespace
} // namespace lumoradex
