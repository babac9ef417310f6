// Turning the launcher window into a full-output overlay layer surface.
#pragma once

#include <gtk/gtk.h>

#ifdef FLINTSEARCH_HAVE_LAYER_SHELL
#include <gtk4-layer-shell.h>
#else
#include "window/layer_shell_standin.h"
#endif

namespace flintsearch::window {

inline constexpr const char* LAYER_NAMESPACE = "flintsearch";

// Makes the window an overlay-layer surface named "flintsearch" that takes
// the keyboard exclusively, is anchored to all four edges and reserves no
// space. Must run right after the window is constructed, before it gets a
// child or is mapped.
void configure_layer_surface(GtkWindow* window);

}  // namespace flintsearch::window
