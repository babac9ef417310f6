/* Stand-in for gtk4-layer-shell where the library is not available (Debian
 * 12 packages only the GTK 3 one). It has the library's names, enums and
 * signatures for the calls the launcher makes, and the matching getters, but
 * no Wayland protocol: the window stays an ordinary toplevel. Each call is
 * recorded on the window as GObject data so tests can check what the
 * launcher asked for. Main thread only, like GTK. */
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

void gtk_layer_init_for_window(GtkWindow* window);
gboolean gtk_layer_is_layer_window(GtkWindow* window);
void gtk_layer_set_namespace(GtkWindow* window, char const* name_space);
const char* gtk_layer_get_namespace(GtkWindow* window);
void gtk_layer_set_layer(GtkWindow* window, GtkLayerShellLayer layer);
GtkLayerShellLayer gtk_layer_get_layer(GtkWindow* window);
void gtk_layer_set_keyboard_mode(GtkWindow* window, GtkLayerShellKeyboardMode mode);
GtkLayerShellKeyboardMode gtk_layer_get_keyboard_mode(GtkWindow* window);
void gtk_layer_set_anchor(GtkWindow* window, GtkLayerShellEdge edge, gboolean anchor_to_edge);
gboolean gtk_layer_get_anchor(GtkWindow* window, GtkLayerShellEdge edge);
void gtk_layer_set_exclusive_zone(GtkWindow* window, int exclusive_zone);
int gtk_layer_get_exclusive_zone(GtkWindow* window);

/* Not in gtk4-layer-shell; for tests. The calls made on the window so far,
 * comma-separated ("init,namespace,layer,..."; an anchor call reads
 * "anchor:EDGE"), or "" for a window that was never initialised. Owned by
 * the window. */
const char* flintsearch_layer_standin_calls(GtkWindow* window);

/* Not in gtk4-layer-shell; for tests. Whether the window already had a child
 * when gtk_layer_init_for_window was called. */
gboolean flintsearch_layer_standin_had_child_at_init(GtkWindow* window);

G_END_DECLS
