#include "window/layer_shell_standin.h"

extern "C" {

gboolean gtk_layer_is_supported(void) {
    return FALSE;
}

// The library warns and ignores calls on a compositor without the protocol.
void gtk_layer_init_for_window(GtkWindow*) {
    g_warning("gtk_layer_init_for_window: this build has no layer shell");
}

void gtk_layer_set_namespace(GtkWindow*, char const*) {}
void gtk_layer_set_layer(GtkWindow*, GtkLayerShellLayer) {}
void gtk_layer_set_keyboard_mode(GtkWindow*, GtkLayerShellKeyboardMode) {}
void gtk_layer_set_anchor(GtkWindow*, GtkLayerShellEdge, gboolean) {}
void gtk_layer_set_exclusive_zone(GtkWindow*, int) {}

}  // extern "C"
