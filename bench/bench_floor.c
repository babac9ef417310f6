/* The floor for a GTK 4 launcher: the least a GTK 4 program needs to show
 * what the launcher shows at start. A transparent window over the whole
 * output (the compositor tiles it full size), a 640 px panel 120 px from
 * the top with a search entry above a list of one row. No application
 * object, no theme, no stylesheet beyond the transparent window.
 *
 *   bench_floor [--exit-after-frame] [--application]
 *
 * --exit-after-frame ends the process once the first frame has been drawn
 * and flushed to the compositor, so exec-to-exit measures start-up without
 * any Wayland logging. Otherwise it runs until killed. --application builds
 * the same window inside a GtkApplication (non-unique, so no bus name) and
 * a GtkApplicationWindow, to tell what the application object costs. */
#include <gtk/gtk.h>
#include <stdlib.h>
#include <string.h>

static GMainLoop* loop;

static gboolean quit_after_flush(gpointer data) {
    gdk_display_flush(gdk_display_get_default());
    (void)data;
    exit(0);
    return G_SOURCE_REMOVE;
}

static void on_after_paint(GdkFrameClock* clock, gpointer data) {
    static gboolean done = FALSE;
    (void)clock;
    (void)data;
    if (!done) {
        done = TRUE;
        g_idle_add_full(G_PRIORITY_HIGH, quit_after_flush, NULL, NULL);
    }
}

static void on_realize(GtkWidget* window, gpointer data) {
    (void)data;
    GdkFrameClock* clock = gdk_surface_get_frame_clock(gtk_native_get_surface(GTK_NATIVE(window)));
    g_signal_connect(clock, "after-paint", G_CALLBACK(on_after_paint), NULL);
}

static gboolean exit_after_frame;

static void build(GtkWidget* window) {
    GtkCssProvider* css = gtk_css_provider_new();
    static const char* const text = "window { background-color: transparent; }";
#if GTK_CHECK_VERSION(4, 12, 0)
    gtk_css_provider_load_from_string(css, text);
#else
    gtk_css_provider_load_from_data(css, text, -1);
#endif
    gtk_style_context_add_provider_for_display(gdk_display_get_default(), GTK_STYLE_PROVIDER(css),
                                               GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);

    GtkWidget* panel = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_set_halign(panel, GTK_ALIGN_CENTER);
    gtk_widget_set_valign(panel, GTK_ALIGN_START);
    gtk_widget_set_margin_top(panel, 120);
    gtk_widget_set_size_request(panel, 640, -1);

    GtkWidget* entry = gtk_search_entry_new();
    g_object_set(entry, "placeholder-text", "floor", NULL);
    gtk_box_append(GTK_BOX(panel), entry);

    GtkWidget* scroller = gtk_scrolled_window_new();
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER,
                                   GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_max_content_height(GTK_SCROLLED_WINDOW(scroller), 520);
    gtk_scrolled_window_set_propagate_natural_height(GTK_SCROLLED_WINDOW(scroller), TRUE);
    GtkWidget* list = gtk_list_box_new();
    gtk_list_box_append(GTK_LIST_BOX(list), gtk_label_new("Type to search"));
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scroller), list);
    gtk_box_append(GTK_BOX(panel), scroller);
    gtk_window_set_child(GTK_WINDOW(window), panel);

    if (exit_after_frame) {
        g_signal_connect(window, "realize", G_CALLBACK(on_realize), NULL);
    }
    gtk_window_present(GTK_WINDOW(window));
    gtk_widget_grab_focus(entry);
}

static void on_activate(GtkApplication* app, gpointer data) {
    (void)data;
    build(gtk_application_window_new(app));
}

int main(int argc, char** argv) {
    gboolean application = FALSE;
    for (int i = 1; i < argc; ++i) {
        exit_after_frame |= strcmp(argv[i], "--exit-after-frame") == 0;
        application |= strcmp(argv[i], "--application") == 0;
    }
    if (application) {
        GtkApplication* app =
            gtk_application_new("io.github.flintsearch.floor", G_APPLICATION_NON_UNIQUE);
        g_signal_connect(app, "activate", G_CALLBACK(on_activate), NULL);
        const int status = g_application_run(G_APPLICATION(app), 0, NULL);
        g_object_unref(app);
        return status;
    }
    gtk_init();
    GtkWidget* window = gtk_window_new();
    loop = g_main_loop_new(NULL, FALSE);
    g_signal_connect_swapped(window, "destroy", G_CALLBACK(g_main_loop_quit), loop);
    build(window);
    g_main_loop_run(loop);
    return 0;
}
