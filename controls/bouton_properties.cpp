#include "controls/bouton_properties.h"

#include "controls/bouton_icon.h"

namespace lumoradex {

void ReadProperties(BoutonParts& parts, const PropertySet& saved) {
    parts.caption.text = saved.Read(kLibelleName, "");
    ChooseIcon(parts);
}

void WriteProperties(const BoutonParts& parts, PropertySet& saved) {
    saved.Write(kLibelleName, parts.caption.text, "");
}

} // namespace lumoradex
