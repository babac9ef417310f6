#include "window/layer_shell.hpp"

#ifdef FLINTSEARCH_HAVE_LAYER_SHELL
#include <gtk4-layer-shell.h>
#endif

namespace flintsearch::window {

namespace {

void maximize_once_mapped(GtkWidget* widget, gpointer /*data*/) {
    gtk_window_maximize(GTK_WINDOW(widget));
}

// An ordinary toplevel dressed as the overlay. The default size is the
// first output's, for compositors that place windows but ignore the
// maximized state (sway's floating windows); a fullscreen window would be
// painted on black by some compositors, so it is not asked for.
void configure_window_fallback(GtkWindow* window) {
    gtk_window_set_decorated(window, FALSE);
    // Shells list ordinary windows (the overview, a dock): the title and the
    // desktop entry of the application id name it there.
    gtk_window_set_title(window, "flintsearch");
    GListModel* monitors = gdk_display_get_monitors(gtk_widget_get_display(GTK_WIDGET(window)));
    if (auto* monitor = static_cast<GdkMonitor*>(g_list_model_get_item(monitors, 0))) {
        GdkRectangle geometry;
        gdk_monitor_get_geometry(monitor, &geometry);
        gtk_window_set_default_size(window, geometry.width, geometry.height);
        g_object_unref(monitor);
    }
    // Maximized only once mapped: asked for before the first configure,
    // weston 10 answers with a maximized state of 0 x 0 and then ends the
    // client with a protocol error for drawing at the output's size.
    g_signal_connect(window, "map", G_CALLBACK(maximize_once_mapped), nullptr);
}

}  // namespace

#ifdef FLINTSEARCH_HAVE_LAYER_SHELL
bool layer_shell_supported() {
    return gtk_layer_is_supported();
}

static void configure_layer(GtkWindow* window) {
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
#else
// Built without gtk4-layer-shell: every window is an ordinary one.
bool layer_shell_supported() {
    return false;
}

static void configure_layer(GtkWindow*) {}
#endif

bool configure_layer_surface(GtkWindow* window) {
    g_return_val_if_fail(GTK_IS_WINDOW(window), false);
    if (!layer_shell_supported()) {
        configure_window_fallback(window);
        return false;
    }
    configure_layer(window);
    return true;
}

}  // namespace flintsearch::window
