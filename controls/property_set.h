#pragma once
// The property set a host keeps for one control instance, as saved with its window's layout: texts
// under names that compare without regard to ASCII letter case, so "Libelle" finds "libelle".

#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <utility>

namespace lumoradex {

class PropertySet {
public:
    PropertySet() = default;
    PropertySet(std::initializer_list<std::pair<const std::string, std::string>> values);

    // The value saved under the name, or the default when none is.
    std::string Read(std::string_view name, std::string_view defaultValue) const;
    // Saves the value; a value equal to the default is not stored.
    void Write(std::string_view name, std::string_view value, std::string_view defaultValue);
    bool Contains(std::string_view name) const;

private:
    struct NameLess {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };
    std::map<std::string, std::string, NameLess> values_;
};

} // namespace lumoradex
