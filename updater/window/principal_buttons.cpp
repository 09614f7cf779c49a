#include "updater/window/principal_buttons.h"

namespace lumoradex {

// The saving tool writes the property name in lower case; names match whatever their case.
// Action is one pixel narrower than the other two, as designed.
const std::array<SavedButton, 3>& SavedButtons() {
    static const std::array<SavedButton, 3> buttons{{
        {PrincipalButton::BoutonLM1, 221, 86, 154, 20, PropertySet{{"libelle", "Consulter les mises à jour"}}},
        {PrincipalButton::MiseAJour, 221, 108, 154, 20, PropertySet{{"libelle", "Mettre à jour"}}},
        {PrincipalButton::Action, 221, 130, 153, 20, PropertySet{{"libelle", "Terminer"}}},
    }};
    return buttons;
}

} // namespace lumoradex
