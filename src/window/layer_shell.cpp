#include "window/layer_shell.hpp"

namespace flintsearch::window {

void configure_layer_surface(GtkWindow* window) {
    g_return_if_fail(GTK_IS_WINDOW(window));
    gtk_layer_init_for_window(window);
    gtk_layer_set_namespace(window, LAYER_NAMESPACE);
    gtk_layer_set_layer(window, GTK_LAYER_SHELL_LAYER_OVERLAY);
    gtk_layer_set_keyboard_mode(window, GTK_LAYER_SHELL_KEYBOARD_MODE_EXCLUSIVE);
    // Anchored to every edge, the surface is stretched over the whole output.
    gtk_layer_set_anchor(window, GTK_LAYER_SHELL_EDGE_TOP, TRUE);
    gtk_layer_set_anchor(window, GTK_LAYER_SHELL_EDGE_BOTTOM, TRUE);
    gtk_layer_set_anchor(window, GTK_LAYER_SHELL_EDGE_LEFT, TRUE);
    gtk_layer_set_anchor(window, GTK_LAYER_SHELL_EDGE_RIGHT, TRUE);
    gtk_layer_set_exclusive_zone(window, 0);
}

}  // namespace flintsearch::window
