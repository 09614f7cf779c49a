#include "base/wide_text_win.h"

#include <gtest/gtest.h>

namespace lumoradex {
namespace {

TEST(WideText, FrenchTextSurvivesTheRoundTrip) {
    const std::string message = "Veuillez patienter, vérifications en cours";
    EXPECT_EQ(Widen(message), L"Veuillez patienter, v\u00e9rifications en cours");
    EXPECT_EQ(Narrow(Widen(message)), message);
    EXPECT_EQ(Narrow(L""), "");
}

} // namespace
} // namespace lumoradex
