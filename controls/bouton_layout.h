#pragma once
// The button's layout on every resize: a one-character caption makes a glyph button 41 px high,
// anything else a text button 20 px high; the edges hug the sides whatever the width.

#include <string_view>

#include "controls/bouton_parts.h"

namespace lumoradex {

enum class BoutonForm { Text, Glyph };

constexpr int kTextButtonHeight = 300;
constexpr int kGlyphButtonHeight = 615;
constexpr char kSymbolFontName[] = "Webdings";

BoutonForm FormOf(std::string_view caption);

// Runs the layout for the width the host set (twips); the host's height is always overridden.
void LayOut(BoutonParts& parts, int width);

} // namespace lumoradex
