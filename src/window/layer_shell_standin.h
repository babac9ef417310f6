/* Stand-in for gtk4-layer-shell where the library is not available (Debian
 * 12 packages only the GTK 3 one): the library's names, enums and
 * signatures for the calls the launcher makes, but no Wayland protocol
 * behind them. gtk_layer_is_supported() says so, as the real library does
 * on a compositor without the protocol, and the launcher then takes its
 * ordinary-window path; the other calls do nothing. */
#pragma once

#include <gtk/gtk.h>

G_BEGIN_DECLS

typedef enum {
    GTK_LAYER_SHELL_LAYER_BACKGROUND = 0,
    GTK_LAYER_SHELL_LAYER_BOTTOM = 1,
    GTK_LAYER_SHELL_LAYER_TOP = 2,
    GTK_LAYER_SHELL_LAYER_OVERLAY = 3,
    GTK_LAYER_SHELL_LAYER_ENTRY_NUMBER = 4,
} GtkLayerShellLayer;

typedef enum {
    GTK_LAYER_SHELL_EDGE_LEFT = 0,
    GTK_LAYER_SHELL_EDGE_RIGHT = 1,
    GTK_LAYER_SHELL_EDGE_TOP = 2,
    GTK_LAYER_SHELL_EDGE_BOTTOM = 3,
    GTK_LAYER_SHELL_EDGE_ENTRY_NUMBER = 4,
} GtkLayerShellEdge;

typedef enum {
    GTK_LAYER_SHELL_KEYBOARD_MODE_NONE = 0,
    GTK_LAYER_SHELL_KEYBOARD_MODE_EXCLUSIVE = 1,
    GTK_LAYER_SHELL_KEYBOARD_MODE_ON_DEMAND = 2,
    GTK_LAYER_SHELL_KEYBOARD_MODE_ENTRY_NUMBER = 3,
} GtkLayerShellKeyboardMode;

/* Always FALSE: there is no protocol behind the stand-in. */
gboolean gtk_layer_is_supported(void);
void gtk_layer_init_for_window(GtkWindow* window);
void gtk_layer_set_namespace(GtkWindow* window, char const* name_space);
void gtk_layer_set_layer(GtkWindow* window, GtkLayerShellLayer layer);
void gtk_layer_set_keyboard_mode(GtkWindow* window, GtkLayerShellKeyboardMode mode);
void gtk_layer_set_anchor(GtkWindow* window, GtkLayerShellEdge edge, gboolean anchor_to_edge);
void gtk_layer_set_exclusive_zone(GtkWindow* window, int exclusive_zone);

G_END_DECLS
