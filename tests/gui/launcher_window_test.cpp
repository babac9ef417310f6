#include "window/launcher_window.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "gui_support.hpp"
#include "util/handover.hpp"
#include "window/layer_shell.hpp"
#include "window/resident_server.hpp"
#include "window/result_rows.hpp"
#include "window/row_text.hpp"

#ifdef FLINTSEARCH_HAVE_LAYER_SHELL
#include <gtk4-layer-shell.h>
#endif

namespace flintsearch::window {
namespace {

using gui_test::children;
using namespace std::chrono_literals;

// Builds the launcher in a private environment (pid file, stylesheets and
// palette in a temporary directory) and destroys it afterwards.
class LauncherWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        app_ = gui_test::test_application();
        std::ofstream(pid_file_) << "4711";
    }

    void TearDown() override {
        if (GtkWindow* window = find_launcher_window(app_)) {
            gtk_window_destroy(window);
        }
        gui_test::run_until([&] { return find_launcher_window(app_) == nullptr; }, 5s);
    }

    GtkWindow* build(bool resident = false) {
        build_launcher_window(app_, LauncherState{std::nullopt, slot_, pid_file_.string(),
                                                  user_css_.string(), resident});
        return find_launcher_window(app_);
    }

    gui_test::TempDir dir_;
    gui_test::ScopedEnv runtime_{"XDG_RUNTIME_DIR", dir_.path().c_str()};
    gui_test::ScopedEnv config_{"XDG_CONFIG_HOME", (dir_.path() / "config").c_str()};
    gui_test::ScopedEnv cache_{"XDG_CACHE_HOME", (dir_.path() / "cache").c_str()};
    std::filesystem::path pid_file_ = dir_.path() / "flintsearch.pid";
    std::filesystem::path user_css_ = dir_.path() / "config/flintsearch/style.css";
    client::PendingSearchSlotRef slot_ = std::make_shared<client::PendingSearchSlot>();
    GtkApplication* app_ = nullptr;
};

// The widgets of a built launcher, found by walking its tree.
struct Tree {
    GtkWidget* content = nullptr;
    GtkWidget* entry = nullptr;
    GtkWidget* scroller = nullptr;
    GtkListBox* list = nullptr;
};

Tree walk(GtkWindow* window) {
    Tree tree;
    tree.content = gtk_window_get_child(window);
    const auto parts = children(tree.content);
    if (parts.size() == 2) {
        tree.entry = parts[0];
        tree.scroller = parts[1];
        GtkWidget* child = gtk_scrolled_window_get_child(GTK_SCROLLED_WINDOW(tree.scroller));
        // A list box cannot scroll itself; the scroller wraps it in a viewport.
        if (GTK_IS_VIEWPORT(child)) {
            child = gtk_viewport_get_child(GTK_VIEWPORT(child));
        }
        tree.list = GTK_IS_LIST_BOX(child) ? GTK_LIST_BOX(child) : nullptr;
    }
    return tree;
}

// The window's controllers bearing a name (GTK adds unnamed ones of its own).
std::vector<GtkEventController*> named_controllers(GtkWindow* window, const char* name) {
    std::vector<GtkEventController*> found;
    GListModel* controllers = gtk_widget_observe_controllers(GTK_WIDGET(window));
    for (guint i = 0; i < g_list_model_get_n_items(controllers); ++i) {
        auto* controller = GTK_EVENT_CONTROLLER(g_list_model_get_item(controllers, i));
        if (g_strcmp0(gtk_event_controller_get_name(controller), name) == 0) {
            found.push_back(controller);
        }
        g_object_unref(controller);  // the window still holds it
    }
    g_object_unref(controllers);
    return found;
}

TEST_F(LauncherWindow, BuildsTheWidgetTree) {
    GtkWindow* window = build();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(GTK_IS_APPLICATION_WINDOW(window));
    EXPECT_EQ(gtk_window_get_application(window), app_);
    // No title on a layer surface; the plain window of a desktop without
    // layer shell is named for the shell's overview and dock.
    const char* title = gtk_window_get_title(window);
    EXPECT_TRUE(title == nullptr || std::string_view(title) == "flintsearch") << title;

    const Tree tree = walk(window);
    ASSERT_TRUE(GTK_IS_BOX(tree.content));
    EXPECT_EQ(gtk_orientable_get_orientation(GTK_ORIENTABLE(tree.content)),
              GTK_ORIENTATION_VERTICAL);
    EXPECT_EQ(gtk_box_get_spacing(GTK_BOX(tree.content)), 0);
    EXPECT_TRUE(gtk_widget_has_css_class(tree.content, "launcher-bg"));
    EXPECT_EQ(gtk_widget_get_halign(tree.content), GTK_ALIGN_CENTER);
    EXPECT_EQ(gtk_widget_get_valign(tree.content), GTK_ALIGN_START);
    EXPECT_EQ(gtk_widget_get_margin_top(tree.content), 120);
    int width = 0;
    int height = 0;
    gtk_widget_get_size_request(tree.content, &width, &height);
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, -1);

    ASSERT_TRUE(GTK_IS_SEARCH_ENTRY(tree.entry));
    gchar* placeholder = nullptr;
    g_object_get(tree.entry, "placeholder-text", &placeholder, nullptr);
    EXPECT_STREQ(placeholder, "flintsearch \u2014 find anything by meaning");
    g_free(placeholder);
    EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(tree.entry)), "");

    ASSERT_TRUE(GTK_IS_SCROLLED_WINDOW(tree.scroller));
    GtkPolicyType horizontal;
    GtkPolicyType vertical;
    gtk_scrolled_window_get_policy(GTK_SCROLLED_WINDOW(tree.scroller), &horizontal, &vertical);
    EXPECT_EQ(horizontal, GTK_POLICY_NEVER);
    EXPECT_EQ(vertical, GTK_POLICY_AUTOMATIC);
    EXPECT_EQ(gtk_scrolled_window_get_max_content_height(GTK_SCROLLED_WINDOW(tree.scroller)), 520);
    EXPECT_TRUE(
        gtk_scrolled_window_get_propagate_natural_height(GTK_SCROLLED_WINDOW(tree.scroller)));

    ASSERT_NE(tree.list, nullptr);
    EXPECT_EQ(gtk_list_box_get_selection_mode(tree.list), GTK_SELECTION_BROWSE);
    const auto shown = gui_test::rows(tree.list);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(gui_test::message_text(shown[0]), std::string(HINT_TEXT));
    EXPECT_FALSE(gtk_list_box_row_get_selectable(shown[0]));
    EXPECT_FALSE(gtk_list_box_row_get_activatable(shown[0]));
    EXPECT_EQ(gtk_list_box_get_selected_row(tree.list), nullptr);
}

TEST_F(LauncherWindow, WiresAKeyControllerInTheCapturePhaseAndAPrimaryClick) {
    GtkWindow* window = build();
    ASSERT_NE(window, nullptr);
    const auto keys = named_controllers(window, KEY_CONTROLLER_NAME);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_TRUE(GTK_IS_EVENT_CONTROLLER_KEY(keys[0]));
    EXPECT_EQ(gtk_event_controller_get_propagation_phase(keys[0]), GTK_PHASE_CAPTURE);
    const auto clicks = named_controllers(window, CLICK_GESTURE_NAME);
    ASSERT_EQ(clicks.size(), 1u);
    ASSERT_TRUE(GTK_IS_GESTURE_CLICK(clicks[0]));
    EXPECT_EQ(gtk_gesture_single_get_button(GTK_GESTURE_SINGLE(clicks[0])), GDK_BUTTON_PRIMARY);
    EXPECT_EQ(gtk_event_controller_get_propagation_phase(clicks[0]), GTK_PHASE_BUBBLE);
}

TEST_F(LauncherWindow, IsAFullOutputOverlayOfEitherKind) {
    GtkWindow* window = build();
    ASSERT_NE(window, nullptr);
    if (flintsearch::window::layer_shell_supported()) {
#ifdef FLINTSEARCH_HAVE_LAYER_SHELL
        EXPECT_TRUE(gtk_layer_is_layer_window(window));
        EXPECT_STREQ(gtk_layer_get_namespace(window), "flintsearch");
        EXPECT_EQ(gtk_layer_get_layer(window), GTK_LAYER_SHELL_LAYER_OVERLAY);
        EXPECT_EQ(gtk_layer_get_keyboard_mode(window), GTK_LAYER_SHELL_KEYBOARD_MODE_EXCLUSIVE);
        for (auto edge : {GTK_LAYER_SHELL_EDGE_TOP, GTK_LAYER_SHELL_EDGE_BOTTOM,
                          GTK_LAYER_SHELL_EDGE_LEFT, GTK_LAYER_SHELL_EDGE_RIGHT}) {
            EXPECT_TRUE(gtk_layer_get_anchor(window, edge)) << edge;
        }
        EXPECT_EQ(gtk_layer_get_exclusive_zone(window), 0);
#endif
        return;
    }
    // Without the protocol: an undecorated window the size of the output.
    EXPECT_FALSE(gtk_window_get_decorated(window));
    ASSERT_TRUE(gui_test::run_until([&] { return gtk_widget_get_mapped(GTK_WIDGET(window)); }));
    GListModel* monitors = gdk_display_get_monitors(gtk_widget_get_display(GTK_WIDGET(window)));
    auto* monitor = static_cast<GdkMonitor*>(g_list_model_get_item(monitors, 0));
    ASSERT_NE(monitor, nullptr);
    GdkRectangle output;
    gdk_monitor_get_geometry(monitor, &output);
    g_object_unref(monitor);
    ASSERT_TRUE(gui_test::run_until([&] {
        return gtk_widget_get_width(GTK_WIDGET(window)) == output.width &&
               gtk_widget_get_height(GTK_WIDGET(window)) == output.height;
    })) << gtk_widget_get_width(GTK_WIDGET(window))
        << "x" << gtk_widget_get_height(GTK_WIDGET(window));
    // The maximized state is asked for once mapped; sway keeps a tiled
    // window as it is (already the output's size), so it is not checked.
}

TEST_F(LauncherWindow, PresentsWithTheEntryFocused) {
    GtkWindow* window = build();
    ASSERT_NE(window, nullptr);
    const Tree tree = walk(window);
    ASSERT_TRUE(gui_test::run_until([&] { return gtk_widget_get_mapped(GTK_WIDGET(window)); }));
    GtkWidget* focus = gtk_window_get_focus(window);
    ASSERT_NE(focus, nullptr);
    EXPECT_TRUE(focus == tree.entry || gtk_widget_is_ancestor(focus, tree.entry));
}

TEST_F(LauncherWindow, RepeatedActivationPresentsTheSameWindow) {
    GtkWindow* first = build();
    ASSERT_NE(first, nullptr);
    GtkWindow* second = build();
    EXPECT_EQ(first, second);
    EXPECT_EQ(g_list_length(gtk_application_get_windows(app_)), 1u);
}

TEST_F(LauncherWindow, EscapeRemovesThePidFileAndClosesTheWindow) {
    GtkWindow* window = build();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(std::filesystem::exists(pid_file_));
    // Emitted on the window's controller as GTK would for a key press.
    const auto keys = named_controllers(window, KEY_CONTROLLER_NAME);
    ASSERT_EQ(keys.size(), 1u);
    gboolean handled = FALSE;
    g_signal_emit_by_name(keys[0], "key-pressed", GDK_KEY_Escape, 0u, GdkModifierType(0), &handled);
    EXPECT_TRUE(handled);
    EXPECT_FALSE(std::filesystem::exists(pid_file_));
    EXPECT_TRUE(gui_test::run_until([&] { return find_launcher_window(app_) == nullptr; }));
}

TEST_F(LauncherWindow, DestroyRemovesThePidFileAndFreesTheWindow) {
    GtkWindow* window = build();
    ASSERT_NE(window, nullptr);
    // Nothing the handlers hold may keep the window alive: "destroy" runs
    // when its last reference goes.
    gpointer watched = window;
    g_object_add_weak_pointer(G_OBJECT(window), &watched);
    gtk_window_destroy(window);
    EXPECT_TRUE(gui_test::run_until([&] { return watched == nullptr; }, 5s));
    EXPECT_FALSE(std::filesystem::exists(pid_file_));
}

TEST_F(LauncherWindow, ScreenshotCloseLeavesThePidFileAlone) {
    // A screenshot run never wrote the pid file: a running launcher's file
    // must survive it.
    GtkWidget* window = gtk_window_new();
    gtk_window_present(GTK_WINDOW(window));
    gpointer watched = window;
    g_object_add_weak_pointer(G_OBJECT(window), &watched);
    const CloseLauncher close = make_close_launcher(GTK_WINDOW(window), std::nullopt);
    (*close)();
    EXPECT_TRUE(gui_test::run_until([&] { return watched == nullptr; }, 5s));
    EXPECT_EQ(gui_test::read_file(pid_file_), "4711");
    (*close)();  // harmless once the window is gone
}

TEST_F(LauncherWindow, NormalCloseRemovesThePidFile) {
    GtkWidget* window = gtk_window_new();
    gtk_window_present(GTK_WINDOW(window));
    gpointer watched = window;
    g_object_add_weak_pointer(G_OBJECT(window), &watched);
    const CloseLauncher close = make_close_launcher(GTK_WINDOW(window), pid_file_.string());
    (*close)();
    EXPECT_FALSE(std::filesystem::exists(pid_file_));
    EXPECT_TRUE(gui_test::run_until([&] { return watched == nullptr; }, 5s));
}

TEST_F(LauncherWindow, PressOutsideThePanelCloses) {
    GtkWindow* window = build();
    ASSERT_NE(window, nullptr);
    const Tree tree = walk(window);
    ASSERT_TRUE(gui_test::run_until([&] { return gtk_widget_get_width(tree.content) > 0; }));
    graphene_rect_t bounds;
    ASSERT_TRUE(gtk_widget_compute_bounds(tree.content, GTK_WIDGET(window), &bounds));
    EXPECT_FLOAT_EQ(bounds.size.width, 640.0f);
    const double left = bounds.origin.x;
    const double top = bounds.origin.y;
    const double right = left + bounds.size.width;
    const double bottom = top + bounds.size.height;
    const double middle = top + bounds.size.height / 2;
    struct Case {
        const char* name;
        double x;
        double y;
        bool closes;
    };
    const Case cases[] = {
        {"inside", left + 10, middle, false},      {"right edge", right, middle, false},
        {"left edge", left, middle, false},        {"top edge", left + 1, top, false},
        {"bottom edge", right, bottom, false},     {"one unit right", right + 1, middle, true},
        {"one unit left", left - 1, middle, true}, {"above", left + 1, top - 1, true},
        {"below", left + 1, bottom + 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int closes = 0;
        on_outside_press(tree.content, GTK_WIDGET(window), c.x, c.y, [&] { ++closes; });
        EXPECT_EQ(closes, c.closes ? 1 : 0);
    }
    // Bounds that cannot be computed (a widget outside the window) ignore
    // the press.
    GtkWidget* stray = g_object_ref_sink(gtk_label_new("x"));
    int closes = 0;
    on_outside_press(stray, GTK_WIDGET(window), -100, -100, [&] { ++closes; });
    EXPECT_EQ(closes, 0);
    g_object_unref(stray);
}

// Runs a tool of the compositor (swaymsg) and waits for it.
void run_tool(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    gint status = 0;
    ASSERT_TRUE(g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                             nullptr, nullptr, &status, nullptr));
}

// Waits until sway has tiled the window over the whole output (its first
// configure may still carry another size).
bool covers_output(GtkWindow* window) {
    const char* size = std::getenv("FLINT_SWAY_SIZE");
    int width = 0;
    int height = 0;
    if (size == nullptr || std::sscanf(size, "%dx%d", &width, &height) != 2) {
        ADD_FAILURE() << "FLINT_SWAY_SIZE is not set";
        return false;
    }
    return gui_test::run_until([&] {
        return gtk_widget_get_width(GTK_WIDGET(window)) == width &&
               gtk_widget_get_height(GTK_WIDGET(window)) == height;
    });
}

// Clicks through the compositor's seat at output coordinates until
// done() holds. The launcher is the only window and covers the output from
// 0,0, so output and window coordinates agree. The pointer enters a surface
// only on motion and sway may drop a press right after a warp, so each
// attempt moves, settles, presses and releases.
bool click_until(int x, int y, const std::function<bool()>& done) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        run_tool({"swaymsg", "-q", "seat", "-", "cursor", "set", std::to_string(x + 1),
                  std::to_string(y)});
        gui_test::run_for(100ms);
        run_tool(
            {"swaymsg", "-q", "seat", "-", "cursor", "set", std::to_string(x), std::to_string(y)});
        gui_test::run_for(200ms);
        run_tool({"swaymsg", "-q", "seat", "-", "cursor", "press", "button1"});
        run_tool({"swaymsg", "-q", "seat", "-", "cursor", "release", "button1"});
        if (gui_test::run_until(done, 1s)) {
            return true;
        }
    }
    return false;
}

TEST_F(LauncherWindow, ClickOutsideThePanelClosesTheLauncher) {
    GtkWindow* window = build();
    ASSERT_NE(window, nullptr);
    const Tree tree = walk(window);
    ASSERT_TRUE(covers_output(window));
    // A click in the panel (on the hint row) reaches the gesture and leaves
    // the launcher open.
    const auto clicks = named_controllers(window, CLICK_GESTURE_NAME);
    ASSERT_EQ(clicks.size(), 1u);
    int presses = 0;
    const gulong counter = g_signal_connect_swapped(
        clicks[0], "pressed", G_CALLBACK(+[](int* count) { ++*count; }), &presses);
    graphene_rect_t bounds;
    ASSERT_TRUE(gtk_widget_compute_bounds(GTK_WIDGET(tree.list), GTK_WIDGET(window), &bounds));
    EXPECT_TRUE(click_until(static_cast<int>(bounds.origin.x + 20),
                            static_cast<int>(bounds.origin.y + bounds.size.height / 2),
                            [&] { return presses > 0; }));
    g_signal_handler_disconnect(clicks[0], counter);
    gui_test::run_for(100ms);
    ASSERT_EQ(find_launcher_window(app_), window);
    ASSERT_TRUE(std::filesystem::exists(pid_file_));
    EXPECT_TRUE(click_until(5, 5, [&] { return find_launcher_window(app_) == nullptr; }));
    EXPECT_FALSE(std::filesystem::exists(pid_file_));
}

TEST_F(LauncherWindow, ClickOnAHitOpensItAndCloses) {
    gui_test::write_script(dir_.path() / "xdg-open",
                           // Written under another name first, so that "opened"
                           // appears only with its whole content.
                           "#!/bin/sh\nd=$(dirname \"$0\")\nprintf '%s' \"$1\" >\"$d/opening\"\n"
                           "mv \"$d/opening\" \"$d/opened\"\n");
    gui_test::ScopedEnv path("PATH", (dir_.path().string() + ":/usr/bin:/bin").c_str());
    GtkWindow* window = build();
    ASSERT_NE(window, nullptr);
    const Tree tree = walk(window);
    render_outcome(tree.list, client::Response{client::Hits{{
                                  client::Hit{"First", "/docs/first.pdf", "", 0.9f},
                                  client::Hit{"Second", "/docs/second.txt", "", 0.5f},
                              }}});
    GtkWidget* second = GTK_WIDGET(gtk_list_box_get_row_at_index(tree.list, 1));
    ASSERT_TRUE(covers_output(window));
    ASSERT_TRUE(gui_test::run_until([&] { return gtk_widget_get_height(second) > 0; }));
    graphene_rect_t bounds;
    ASSERT_TRUE(gtk_widget_compute_bounds(second, GTK_WIDGET(window), &bounds));
    EXPECT_TRUE(click_until(static_cast<int>(bounds.origin.x + bounds.size.width / 2),
                            static_cast<int>(bounds.origin.y + bounds.size.height / 2),
                            [&] { return find_launcher_window(app_) == nullptr; }));
    EXPECT_TRUE(
        gui_test::run_until([&] { return std::filesystem::exists(dir_.path() / "opened"); }));
    EXPECT_EQ(gui_test::read_file(dir_.path() / "opened"), "/docs/second.txt");
    EXPECT_FALSE(std::filesystem::exists(pid_file_));
}

// A resident's window: built hidden, shown by the hand-over (a start's
// toggle through the control socket) with an empty entry and the user
// stylesheet read afresh, and hidden, never destroyed, by every close.
TEST_F(LauncherWindow, AResidentShowsByTheToggleAndHidesOnEveryClose) {
    GtkWindow* window = build(/*resident=*/true);
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(window)));
    const Tree tree = walk(window);
    const std::string socket = (dir_.path() / "resident.sock").string();
    auto listener = util::listen_at(socket);
    ASSERT_TRUE(listener);
    ResidentServer server(std::move(*listener),
                          [&] { toggle_launcher(window, user_css_.string()); });
    // A start, as `flintsearch` makes it, on a thread of its own: the
    // resident answers from this main loop.
    const auto press = [&] {
        bool handed_over = false;
        std::thread start([&] {
            if (auto link = util::ResidentLink::reach(socket, 5s)) {
                link->go();
                handed_over = true;
            }
        });
        const bool was = gtk_widget_get_visible(GTK_WIDGET(window));
        gui_test::run_until([&] { return gtk_widget_get_visible(GTK_WIDGET(window)) != was; });
        start.join();
        return handed_over;
    };
    const auto entry_focused = [&] {
        GtkWidget* focus = gtk_window_get_focus(window);
        return focus == tree.entry ||
               (focus != nullptr && gtk_widget_is_ancestor(focus, tree.entry));
    };
    const auto shown_fresh = [&](int min_entry_height) {
        return gui_test::run_until([&] {
            return gtk_widget_get_mapped(GTK_WIDGET(window)) &&
                   gtk_widget_get_height(tree.entry) >= min_entry_height && entry_focused() &&
                   gui_test::shown_rows(tree.list) == std::string(HINT_TEXT) &&
                   *gtk_editable_get_text(GTK_EDITABLE(tree.entry)) == '\0';
        });
    };
    std::filesystem::create_directories(user_css_.parent_path());
    int min_height = 60;
    const auto next_style = [&] {
        min_height += 10;
        std::ofstream(user_css_) << "entry.search { min-height: " << min_height << "px; }";
    };

    const auto keys = named_controllers(window, KEY_CONTROLLER_NAME);
    const auto clicks = named_controllers(window, CLICK_GESTURE_NAME);
    ASSERT_EQ(keys.size(), 1u);
    ASSERT_EQ(clicks.size(), 1u);
    struct Close {
        const char* name;
        std::function<void()> close;
    };
    const Close closes[] = {
        {"Escape",
         [&] {
             gboolean handled = FALSE;
             g_signal_emit_by_name(keys[0], "key-pressed", GDK_KEY_Escape, 0u, GdkModifierType(0),
                                   &handled);
         }},
        {"a click outside the panel",
         [&] { g_signal_emit_by_name(clicks[0], "pressed", 1, 1.0, 1.0); }},
        {"opening a hit",
         [&] {
             render_outcome(tree.list, client::Hits{{{"T", "/nowhere/x.txt", "", 0.5f}}});
             g_signal_emit_by_name(tree.list, "row-activated",
                                   gtk_list_box_get_row_at_index(tree.list, 0));
         }},
        {"the toggle", [&] { EXPECT_TRUE(press()); }},
    };
    for (const Close& c : closes) {
        SCOPED_TRACE(c.name);
        next_style();
        ASSERT_TRUE(press());
        ASSERT_TRUE(shown_fresh(min_height)) << "entry height " << gtk_widget_get_height(tree.entry)
                                             << ", rows " << gui_test::shown_rows(tree.list);
        gtk_editable_set_text(GTK_EDITABLE(tree.entry), "typed");
        c.close();
        EXPECT_TRUE(
            gui_test::run_until([&] { return !gtk_widget_get_mapped(GTK_WIDGET(window)); }));
        EXPECT_EQ(find_launcher_window(app_), window) << "hidden, not destroyed";
        EXPECT_EQ(gui_test::read_file(pid_file_), "4711") << "a resident has no pid file";
    }

    // Presses at once, more than the resident serves at a time: every one
    // reaches it within a press's usual time, so an even burst leaves the
    // window as it was and no ordinary launcher starts.
    for (const int burst : {8, 20}) {
        SCOPED_TRACE(burst);
        std::atomic<int> ended = 0;
        std::atomic<int> handed_over = 0;
        std::vector<std::thread> starts;
        for (int i = 0; i < burst; ++i) {
            starts.emplace_back([&] {
                if (auto link = util::ResidentLink::reach(socket)) {
                    link->go();
                    ++handed_over;
                }
                ++ended;
            });
        }
        EXPECT_TRUE(gui_test::run_until([&] { return ended == burst; }));
        for (auto& start : starts) {
            start.join();
        }
        gui_test::run_for(std::chrono::milliseconds(100));
        EXPECT_EQ(handed_over, burst);
        EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(window)));
    }
}

}  // namespace
}  // namespace flintsearch::window
