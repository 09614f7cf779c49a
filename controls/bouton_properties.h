#pragma once
// The button's one persisted property, Libelle (the caption), read from and written to the
// property set its host keeps for the instance.

#include "controls/bouton_parts.h"
#include "controls/property_set.h"

namespace lumoradex {

constexpr char kLibelleName[] = "Libelle";

// Restores the caption and chooses the icon for it (steps R1 to R5).
void ReadProperties(BoutonParts& parts, const PropertySet& saved);
// Saves the caption; an empty one is not stored.
void WriteProperties(const BoutonParts& parts, PropertySet& saved);

} // namespace lumoradex
