// The launcher's own stylesheet. Pure and GTK-free.
#pragma once

#include <string>

#include "flint/palette.hpp"

namespace flintsearch::window {

// The launcher stylesheet for a palette: one line, no line breaks. Uses only
// bg, surface and accent; colour texts go in unchecked.
std::string launcher_css(const flint::Palette& palette);

// The launcher stylesheet's search-entry and list rules again, under the CSS
// node names that GTK 4 really gives these widgets: a GtkSearchEntry is an
// "entry" node with the class "search" and a GtkListBox is a "list" node, so
// the "searchentry" and "listbox" rules of launcher_css match nothing there.
// Appended after launcher_css by the generator.
std::string widget_node_css(const flint::Palette& palette);

// The whole application stylesheet: launcher_css then widget_node_css.
std::string app_css(const flint::Palette& palette);

}  // namespace flintsearch::window
