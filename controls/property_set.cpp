#include "controls/property_set.h"

#include <algorithm>

namespace lumoradex {
namespace {

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

PropertySet::PropertySet(std::initializer_list<std::pair<const std::string, std::string>> values) : values_(values) {}

// Saved layouts write names in whatever case the saving tool chose ("libelle" for "Libelle").
bool PropertySet::NameLess::operator()(std::string_view a, std::string_view b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return AsciiLower(x) < AsciiLower(y); });
}

std::string PropertySet::Read(std::string_view name, std::string_view defaultValue) const {
    auto found = values_.find(name);
    return found != values_.end() ? found->second : std::string(defaultValue);
}

void PropertySet::Write(std::string_view name, std::string_view value, std::string_view defaultValue) {
    auto found = values_.find(name);
    if (found != values_.end())
        values_.erase(found);
    if (value != defaultValue)
        values_.emplace(std::string(name), std::string(value));
}

bool PropertySet::Contains(std::string_view name) const {
    return values_.find(name) != values_.end();
}

} // namespace lumoradex
