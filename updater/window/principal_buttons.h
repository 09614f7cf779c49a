#pragma once
// Principal's three buttons as the window's saved layout holds them: each instance's place in
// pixels and the property set it is restored from.

#include <array>

#include "controls/property_set.h"

namespace lumoradex {

enum class PrincipalButton { BoutonLM1, MiseAJour, Action };

struct SavedButton {
    PrincipalButton button;
    int left;
    int top;
    int width;
    int height;
    PropertySet properties;
};

// In creation order, from the top of the button frame down.
const std::array<SavedButton, 3>& SavedButtons();

} // namespace lumoradex
