#include "window/launcher_window.hpp"

#include <exception>
#include <memory>
#include <utility>

#include "flint/gtk/ref.hpp"
#include "flint/gtk/theme.hpp"
#include "util/pid_file.hpp"
#include "window/key_map.hpp"
#include "window/launcher_css.hpp"
#include "window/layer_shell.hpp"
#include "window/result_rows.hpp"
#include "window/row_text.hpp"
#include "window/screenshot_view.hpp"
#include "window/search_dispatch.hpp"
#include "window/signal.hpp"

namespace flintsearch::window {
namespace {

// Marks the application's launcher window and names its entry (a plain
// observer: the window owns the entry).
constexpr const char* LAUNCHER_ENTRY_KEY = "flintsearch-entry";
constexpr const char* LAUNCHER_SCROLLER_KEY = "flintsearch-scroller";

constexpr const char* PLACEHOLDER = "flintsearch \u2014 find anything by meaning";
constexpr int PANEL_TOP = 120;
constexpr int PANEL_WIDTH = 640;
constexpr int MAX_LIST_HEIGHT = 520;

// The user stylesheet's provider: one per process, reloaded on every
// activation. Never destroyed (GTK may still use it at exit).
flint::ProviderSlot& user_css_slot() {
    static auto* slot = new flint::ProviderSlot;
    return *slot;
}

// A GWeakRef to a window; main thread only.
class WeakWindow {
  public:
    explicit WeakWindow(GtkWindow* window) { g_weak_ref_init(&ref_, window); }
    WeakWindow(const WeakWindow&) = delete;
    WeakWindow& operator=(const WeakWindow&) = delete;
    ~WeakWindow() { g_weak_ref_clear(&ref_); }

    // A new reference to the window, or nothing once it is gone.
    flint::Ref<GtkWindow> get() {
        return flint::adopt(static_cast<GtkWindow*>(g_weak_ref_get(&ref_)));
    }

  private:
    GWeakRef ref_;
};

void install_stylesheets(const std::string& user_css) {
    flint::install_theme();
    flint::set_app_css([] { return app_css(flint::load_palette()); });
    flint::load_user_css(user_css, user_css_slot());
}

GtkWidget* entry_of(GtkWindow* window) {
    return static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(window), LAUNCHER_ENTRY_KEY));
}

void present(GtkWindow* window) {
    gtk_window_present(window);
    if (GtkWidget* entry = entry_of(window)) {
        gtk_widget_grab_focus(entry);
    }
}

// Empties the entry, which shows the hint row and drops every search (the
// "changed" handler does both).
void empty_entry(GtkWindow* window) {
    GtkWidget* entry = entry_of(window);
    if (entry != nullptr && *gtk_editable_get_text(GTK_EDITABLE(entry)) != '\0') {
        gtk_editable_set_text(GTK_EDITABLE(entry), "");
    }
}

}  // namespace

GtkWindow* find_launcher_window(GtkApplication* app) {
    for (GList* item = gtk_application_get_windows(app); item != nullptr; item = item->next) {
        if (g_object_get_data(G_OBJECT(item->data), LAUNCHER_ENTRY_KEY) != nullptr) {
            return GTK_WINDOW(item->data);
        }
    }
    return nullptr;
}

CloseLauncher make_close_launcher(GtkWindow* window, std::optional<std::string> pid_file) {
    // A weak reference: the handlers that share this action belong to the
    // window's own widgets and controllers, so a strong one would keep the
    // window alive forever (GTK 4 disposes a closed window only when its
    // last reference goes, and "destroy" runs then).
    auto target = std::make_shared<WeakWindow>(window);
    return std::make_shared<const CloseAction>([target, pid_file = std::move(pid_file)] {
        if (pid_file) {
            util::remove_pid_file(*pid_file);
        }
        if (const flint::Ref<GtkWindow> alive = target->get()) {
            gtk_window_close(alive.get());
        }
    });
}

CloseLauncher make_hide_launcher(GtkWindow* window) {
    auto target = std::make_shared<WeakWindow>(window);
    return std::make_shared<const CloseAction>([target] {
        if (const flint::Ref<GtkWindow> alive = target->get()) {
            hide_launcher(alive.get());
        }
    });
}

void show_launcher(GtkWindow* window, const std::string& user_css) {
    flint::load_user_css(user_css, user_css_slot());
    empty_entry(window);
    if (auto* scroller = static_cast<GtkScrolledWindow*>(
            g_object_get_data(G_OBJECT(window), LAUNCHER_SCROLLER_KEY))) {
        GtkAdjustment* adjustment = gtk_scrolled_window_get_vadjustment(scroller);
        gtk_adjustment_set_value(adjustment, gtk_adjustment_get_lower(adjustment));
    }
    present(window);
}

void hide_launcher(GtkWindow* window) {
    // The entry's caret blinks on a tick callback of the frame clock, which
    // keeps running for a hidden window as long as the entry holds the focus
    // (GTK is told no focus-out for a surface that is gone). Without the
    // focus nothing ticks, and show_launcher gives it back.
    gtk_window_set_focus(window, nullptr);
    gtk_widget_set_visible(GTK_WIDGET(window), FALSE);
    empty_entry(window);
}

void toggle_launcher(GtkWindow* window, const std::string& user_css) {
    if (gtk_widget_get_visible(GTK_WIDGET(window))) {
        hide_launcher(window);
    } else {
        show_launcher(window, user_css);
    }
}

void on_outside_press(GtkWidget* content, GtkWidget* window, double x, double y,
                      const CloseAction& close) {
    graphene_rect_t bounds;
    if (!gtk_widget_compute_bounds(content, window, &bounds)) {
        return;
    }
    const Bounds panel{bounds.origin.x, bounds.origin.y, bounds.size.width, bounds.size.height};
    if (is_outside(panel, x, y)) {
        close();
    }
}

namespace {

// How long a loss of the keyboard must last before the launcher closes.
constexpr guint FOCUS_LOSS_GRACE_MS = 250;

// Follows the window's keyboard focus for the handler of "notify::is-active",
// which owns it; its pending grace timer goes with it.
struct FocusWatch {
    FocusWatch(GtkWindow* window, CloseLauncher close_action)
        : target(window), close(std::move(close_action)) {}
    FocusWatch(const FocusWatch&) = delete;
    FocusWatch& operator=(const FocusWatch&) = delete;
    ~FocusWatch() { cancel(); }

    void cancel() {
        if (timer != 0) {
            g_source_remove(timer);
            timer = 0;
        }
    }

    static gboolean on_grace_over(gpointer data) {
        auto* self = static_cast<FocusWatch*>(data);
        self->timer = 0;  // the source ends with this return
        const flint::Ref<GtkWindow> window = self->target.get();
        if (window && !gtk_window_is_active(window.get()) &&
            gtk_widget_get_visible(GTK_WIDGET(window.get()))) {
            self->had_focus = false;
            (*self->close)();
        }
        return G_SOURCE_REMOVE;
    }

    WeakWindow target;
    CloseLauncher close;
    bool had_focus = false;
    guint timer = 0;
};

// The launcher's widgets, owned by the window (its children) once built.
struct LauncherWidgets {
    GtkWidget* window;
    GtkWidget* content;  // the panel
    GtkWidget* entry;
    GtkWidget* list;
};

// A new window, made a layer surface before it has a child, holding the
// panel: the search entry above the scrolling list with its hint row.
LauncherWidgets build_widgets(GtkApplication* app) {
    GtkWidget* window = gtk_application_window_new(app);
    configure_layer_surface(GTK_WINDOW(window));

    // Named for screen readers, which otherwise only hear "frame".
    gtk_accessible_update_property(GTK_ACCESSIBLE(window), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   "flintsearch", -1);

    GtkWidget* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_add_css_class(content, "launcher-bg");
    gtk_widget_set_halign(content, GTK_ALIGN_CENTER);
    gtk_widget_set_valign(content, GTK_ALIGN_START);
    gtk_widget_set_margin_top(content, PANEL_TOP);
    gtk_widget_set_size_request(content, PANEL_WIDTH, -1);

    GtkWidget* entry = gtk_search_entry_new();
    g_object_set(entry, "placeholder-text", PLACEHOLDER, nullptr);
    gtk_box_append(GTK_BOX(content), entry);

    GtkWidget* scroller = gtk_scrolled_window_new();
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER,
                                   GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_max_content_height(GTK_SCROLLED_WINDOW(scroller), MAX_LIST_HEIGHT);
    gtk_scrolled_window_set_propagate_natural_height(GTK_SCROLLED_WINDOW(scroller), TRUE);

    GtkWidget* list = gtk_list_box_new();
    gtk_list_box_set_selection_mode(GTK_LIST_BOX(list), GTK_SELECTION_BROWSE);
    gtk_list_box_append(GTK_LIST_BOX(list), message_row(HINT_TEXT));

    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scroller), list);
    keep_selection_in_view(GTK_LIST_BOX(list));
    gtk_box_append(GTK_BOX(content), scroller);
    gtk_window_set_child(GTK_WINDOW(window), content);
    g_object_set_data(G_OBJECT(window), LAUNCHER_ENTRY_KEY, entry);
    g_object_set_data(G_OBJECT(window), LAUNCHER_SCROLLER_KEY, scroller);
    return {window, content, entry, list};
}

// The handlers: the entry's searches, the keys, a row's activation, a press
// outside the panel, and the pid file's removal when the window goes.
void connect_handlers(const LauncherWidgets& widgets, const LauncherState& state,
                      const CloseLauncher& close_launcher) {
    connect_search_entry(GTK_EDITABLE(widgets.entry), GTK_LIST_BOX(widgets.list), state.slot);

    // In the capture phase on the window, the five keys handled here never
    // reach the entry; everything else does.
    GtkEventController* keys = gtk_event_controller_key_new();
    gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
    gtk_event_controller_set_name(keys, KEY_CONTROLLER_NAME);
    connect<gboolean(GtkEventControllerKey*, guint, guint, GdkModifierType)>(
        keys, "key-pressed",
        [close_launcher,
         held_list = std::shared_ptr<GtkListBox>(flint::retain(GTK_LIST_BOX(widgets.list)))](
            GtkEventControllerKey*, guint keyval, guint, GdkModifierType modifiers) {
            return on_key_pressed(keyval, modifiers, held_list.get(), *close_launcher);
        });
    gtk_widget_add_controller(widgets.window, keys);

    // Focus stays in the entry while the selection moves, so the selected
    // row is the entry's active descendant: that is what a screen reader
    // follows and reads.
    connect<void(GtkListBox*, GtkListBoxRow*)>(
        widgets.list, "row-selected",
        [held_entry = std::shared_ptr<GtkWidget>(flint::retain(widgets.entry))](
            GtkListBox*, GtkListBoxRow* row) {
            if (row != nullptr) {
                gtk_accessible_update_relation(GTK_ACCESSIBLE(held_entry.get()),
                                               GTK_ACCESSIBLE_RELATION_ACTIVE_DESCENDANT, row, -1);
            } else {
                gtk_accessible_reset_relation(GTK_ACCESSIBLE(held_entry.get()),
                                              GTK_ACCESSIBLE_RELATION_ACTIVE_DESCENDANT);
            }
        });

    connect<void(GtkListBox*, GtkListBoxRow*)>(widgets.list, "row-activated",
                                               [close_launcher](GtkListBox*, GtkListBoxRow* row) {
                                                   on_row_activated(row, *close_launcher);
                                               });

    // The gesture belongs to the window, so it reaches the window through
    // its own widget; holding the content box makes no cycle (a child does
    // not reference its parent).
    GtkGesture* click = gtk_gesture_click_new();
    gtk_event_controller_set_name(GTK_EVENT_CONTROLLER(click), CLICK_GESTURE_NAME);
    connect<void(GtkGestureClick*, gint, gdouble, gdouble)>(
        click, "pressed",
        [close_launcher, held_content = std::shared_ptr<GtkWidget>(flint::retain(widgets.content))](
            GtkGestureClick* gesture, gint /*n_press*/, gdouble x, gdouble y) {
            on_outside_press(held_content.get(),
                             gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(gesture)), x, y,
                             *close_launcher);
        });
    gtk_widget_add_controller(widgets.window, GTK_EVENT_CONTROLLER(click));

    // Losing the keyboard after having had it (Alt+Tab, the overview, a
    // click on another output or a panel, a menu that takes the keys) ends
    // the launcher, so none is left behind other windows. A loss that the
    // compositor takes back at once (sway re-enters when a new keyboard
    // appears) is no loss.
    auto watch = std::make_shared<FocusWatch>(GTK_WINDOW(widgets.window), close_launcher);
    connect<void(GObject*, GParamSpec*)>(
        widgets.window, "notify::is-active", [watch](GObject* window, GParamSpec*) {
            if (gtk_window_is_active(GTK_WINDOW(window))) {
                watch->had_focus = true;
                watch->cancel();
            } else if (watch->had_focus && watch->timer == 0) {
                watch->timer =
                    g_timeout_add(FOCUS_LOSS_GRACE_MS, FocusWatch::on_grace_over, watch.get());
            }
        });

    // A screenshot run never wrote the pid file, so it leaves it alone; a
    // running launcher's file stays intact.
    connect<void(GtkWidget*)>(widgets.window, "destroy", [pid_file = state.pid_file](GtkWidget*) {
        if (pid_file) {
            util::remove_pid_file(*pid_file);
        }
    });
}

// The steps of an activation, in order: stylesheets (theme, launcher, user),
// then a window already built is only presented; otherwise the widgets, the
// close action, the handlers, and then what the kind of start asks for.
void build_or_present(GtkApplication* app, const LauncherState& state) {
    install_stylesheets(state.user_css);
    if (GtkWindow* existing = find_launcher_window(app)) {
        if (!state.resident) {
            present(existing);
        }
        return;
    }

    const LauncherWidgets widgets = build_widgets(app);
    auto* window = GTK_WINDOW(widgets.window);
    const CloseLauncher close_launcher =
        state.resident ? make_hide_launcher(window) : make_close_launcher(window, state.pid_file);
    connect_handlers(widgets, state, close_launcher);

    if (state.screenshot) {
        check_screenshot_view(window, *state.screenshot);
    }
    if (state.resident) {
        // Ready to be shown: styles resolved and its surface made.
        gtk_widget_realize(widgets.window);
        return;
    }
    present(window);
}

}  // namespace

void build_launcher_window(GtkApplication* app, const LauncherState& state) {
    g_return_if_fail(GTK_IS_APPLICATION(app));
    g_return_if_fail(state.slot != nullptr);
    // Called from the "activate" signal: no exception may reach GLib.
    try {
        build_or_present(app, state);
    } catch (const std::exception& e) {
        g_warning("flintsearch: cannot build the launcher window: %s", e.what());
    }
}

}  // namespace flintsearch::window
