// Checks the private compositor that every display test runs in: a plain
// GTK window maps over the whole output, keys typed with wtype reach the
// focused entry, and pointer presses made through the seat reach the window.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "main_loop.hpp"

namespace {

using namespace std::chrono_literals;

using flintsearch::test::run_until;

// Runs a helper tool to completion; the compositor queues what it sends
// for this process, which reads it in the next main-loop iterations.
void run_tool(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    int status = 0;
    GError* error = nullptr;
    const bool started = g_spawn_sync(nullptr, args.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr,
                                      nullptr, nullptr, nullptr, &status, &error);
    ASSERT_TRUE(started) << argv[0] << ": " << (error != nullptr ? error->message : "?");
    EXPECT_TRUE(g_spawn_check_wait_status(status, nullptr)) << argv[0] << " failed";
}

class HeadlessDisplay : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_NE(std::getenv("WAYLAND_DISPLAY"), nullptr)
            << "run this under scripts/with-headless-sway";
        ASSERT_TRUE(gtk_init_check()) << "GTK cannot open the headless display";
    }

    void SetUp() override {
        window_ = GTK_WINDOW(gtk_window_new());
        auto* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        entry_ = gtk_entry_new();
        gtk_widget_set_valign(entry_, GTK_ALIGN_START);
        gtk_widget_set_margin_top(entry_, 100);
        gtk_widget_set_size_request(entry_, 400, -1);
        gtk_widget_set_halign(entry_, GTK_ALIGN_CENTER);
        gtk_box_append(GTK_BOX(box), entry_);
        gtk_window_set_child(window_, box);
        gtk_window_present(window_);
        gtk_widget_grab_focus(entry_);
        ASSERT_TRUE(run_until([&] {
            return gtk_widget_get_mapped(GTK_WIDGET(window_)) &&
                   gtk_widget_get_width(GTK_WIDGET(window_)) > 0 && gtk_window_is_active(window_);
        })) << "the window never mapped with keyboard focus";
    }

    void TearDown() override {
        gtk_window_destroy(window_);
        run_until([] { return false; }, 100ms);
    }

    GtkWindow* window_ = nullptr;
    GtkWidget* entry_ = nullptr;
};

TEST_F(HeadlessDisplay, WindowCoversTheWholeOutput) {
    const char* size = std::getenv("FLINT_SWAY_SIZE");
    ASSERT_NE(size, nullptr);
    const std::string expected = size;
    EXPECT_TRUE(run_until([&] {
        const auto actual = std::to_string(gtk_widget_get_width(GTK_WIDGET(window_))) + "x" +
                            std::to_string(gtk_widget_get_height(GTK_WIDGET(window_)));
        return actual == expected;
    })) << "window is "
        << gtk_widget_get_width(GTK_WIDGET(window_)) << "x"
        << gtk_widget_get_height(GTK_WIDGET(window_)) << ", output " << expected;
}

// The seat always has a keyboard, so even the first key of a wtype run
// (which brings a keyboard of its own) arrives.
TEST_F(HeadlessDisplay, TypedKeysReachTheFocusedEntry) {
    for (const char* key : {"a", "b", "c"}) {
        run_tool({"wtype", key});
    }
    run_tool({"wtype", "xyz"});
    EXPECT_TRUE(run_until([&] {
        return std::string(gtk_editable_get_text(GTK_EDITABLE(entry_))) == "abcxyz";
    })) << "entry holds \""
        << gtk_editable_get_text(GTK_EDITABLE(entry_)) << "\"";
}

struct Press {
    int count = 0;
    double x = -1;
    double y = -1;
};

TEST_F(HeadlessDisplay, SeatClicksReachTheWindow) {
    Press press;
    auto* gesture = gtk_gesture_click_new();
    g_signal_connect(gesture, "pressed",
                     G_CALLBACK(+[](GtkGestureClick*, int, double x, double y, gpointer data) {
                         auto* p = static_cast<Press*>(data);
                         ++p->count;
                         p->x = x;
                         p->y = y;
                     }),
                     &press);
    gtk_widget_add_controller(GTK_WIDGET(window_), GTK_EVENT_CONTROLLER(gesture));

    // The pointer enters a surface only on motion over it, and until sway
    // has placed a new window a warp can land on the bare output. Under
    // load sway also drops the odd press that follows a warp, so a click is
    // warp, settle, press, release, retried a few times until one arrives.
    for (int attempt = 0; attempt < 5 && press.count == 0; ++attempt) {
        run_tool({"swaymsg", "-q", "seat", "-", "cursor", "set", "31", "700"});
        run_until([] { return false; }, 100ms);
        run_tool({"swaymsg", "-q", "seat", "-", "cursor", "set", "30", "700"});
        run_until([] { return false; }, 200ms);
        run_tool({"swaymsg", "-q", "seat", "-", "cursor", "press", "button1"});
        run_tool({"swaymsg", "-q", "seat", "-", "cursor", "release", "button1"});
        run_until([&] { return press.count > 0; }, 1s);
    }
    ASSERT_GT(press.count, 0) << "no press arrived";
    EXPECT_EQ(press.count, 1);
    // Compositors hand positions on in 1/256 px (sway 1.10 gives 699.996).
    EXPECT_NEAR(press.x, 30, 0.01);
    EXPECT_NEAR(press.y, 700, 0.01);
}

}  // namespace
