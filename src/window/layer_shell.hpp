// Turning the launcher window into a full-output overlay: a layer surface
// where the compositor has the protocol, otherwise a window made to look and
// act like one.
#pragma once

#include <gtk/gtk.h>

namespace flintsearch::window {

inline constexpr const char* LAYER_NAMESPACE = "flintsearch";

// Where the compositor has the layer-shell protocol, makes the window an
// overlay-layer surface named "flintsearch" that takes the keyboard
// exclusively, is anchored to all four edges and reserves no space.
// Elsewhere (GNOME's compositor, the build without the library) the window
// gets no decorations, the size of the output and the maximized state, so
// that it covers the work area with the desktop showing through around the
// panel and a click beside the panel still lands on it. Must run right after
// the window is constructed, before it gets a child or is mapped. Returns
// whether the window is a layer surface.
bool configure_layer_surface(GtkWindow* window);

// Whether windows can become layer surfaces: the compositor has the protocol
// and the build has gtk4-layer-shell (Debian 12 packages only the GTK 3 one,
// so a build there always takes the ordinary-window path).
bool layer_shell_supported();

}  // namespace flintsearch::window
