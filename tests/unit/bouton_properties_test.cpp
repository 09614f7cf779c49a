#include "controls/bouton_properties.h"

#include <gtest/gtest.h>

#include "controls/text_length.h"

namespace lumoradex {
namespace {

TEST(BoutonProperties, RestoresTheSavedCaption) {
    BoutonParts parts;
    ReadProperties(parts, PropertySet{{"Libelle", "Mettre à jour"}});
    EXPECT_EQ(parts.caption.text, "Mettre à jour");
}

TEST(BoutonProperties, SavedLayoutNamesMatchWhateverTheirCase) {
    BoutonParts parts;
    ReadProperties(parts, PropertySet{{"_extentx", "4075"}, {"libelle", "Terminer"}});
    EXPECT_EQ(parts.caption.text, "Terminer");
}

TEST(BoutonProperties, MissingCaptionRestoresEmpty) {
    BoutonParts parts;
    ReadProperties(parts, PropertySet{});
    EXPECT_EQ(parts.caption.text, "");
}

TEST(BoutonProperties, EmptyCaptionIsNotStored) {
    BoutonParts parts;
    parts.caption.text = "";
    PropertySet saved{{"Libelle", "Ancien"}};
    WriteProperties(parts, saved);
    EXPECT_FALSE(saved.Contains("Libelle"));

    BoutonParts restored;
    ReadProperties(restored, saved);
    EXPECT_EQ(restored.caption.text, "");
}

TEST(BoutonProperties, CaptionRoundTrips) {
    BoutonParts parts;
    parts.caption.text = "Me le rappeler plus tard";
    PropertySet saved;
    WriteProperties(parts, saved);
    EXPECT_EQ(saved.Read("LIBELLE", ""), "Me le rappeler plus tard");
}

TEST(CharacterCount, CountsUtf16Units) {
    EXPECT_EQ(CharacterCount(""), 0u);
    EXPECT_EQ(CharacterCount("Terminer"), 8u);
    EXPECT_EQ(CharacterCount("à"), 1u);
    EXPECT_EQ(CharacterCount("€"), 1u);
    EXPECT_EQ(CharacterCount("\xF0\x9F\x98\x80"), 2u); // U+1F600, a surrogate pair
}

} // namespace
} // namespace lumoradex
