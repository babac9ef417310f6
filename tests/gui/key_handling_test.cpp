#include "window/key_handling.hpp"

#include <gtest/gtest.h>

#include <string>

#include "gui_support.hpp"
#include "window/result_rows.hpp"

namespace flintsearch::window {
namespace {

using gui_test::rows;
using namespace std::chrono_literals;

client::Hit hit(const std::string& path) {
    return client::Hit{"title", path, "", 0.5f};
}

// A recording xdg-open that writes its one argument (exact bytes) to a file
// next to it, and a list box the test owns.
class KeyHandling : public ::testing::Test {
  protected:
    void SetUp() override {
        gui_test::test_application();
        gui_test::write_script(
            dir_.path() / "xdg-open",
            "#!/bin/sh\nprintf '%s' \"$1\" >\"$(dirname \"$0\")/opened.tmp\"\n"
            "mv \"$(dirname \"$0\")/opened.tmp\" \"$(dirname \"$0\")/opened\"\n");
        list_ = GTK_LIST_BOX(g_object_ref_sink(gtk_list_box_new()));
        gtk_list_box_set_selection_mode(list_, GTK_SELECTION_BROWSE);
    }
    void TearDown() override { g_object_unref(list_); }

    void show(std::vector<client::Hit> hits) {
        render_outcome(list_, client::Response{client::Hits{std::move(hits)}});
    }

    // What the stub was started with, once it has run.
    std::optional<std::string> opened() {
        gui_test::run_until([&] { return std::filesystem::exists(dir_.path() / "opened"); }, 5s);
        return gui_test::read_file(dir_.path() / "opened");
    }

    int index_of_selected() {
        GtkListBoxRow* row = gtk_list_box_get_selected_row(list_);
        return row != nullptr ? gtk_list_box_row_get_index(row) : -1;
    }

    gui_test::TempDir dir_;
    gui_test::ScopedEnv path_{"PATH", (dir_.path().string() + ":/usr/bin:/bin").c_str()};
    GtkListBox* list_ = nullptr;
    int closes_ = 0;
    CloseAction close_ = [this] { ++closes_; };
};

TEST_F(KeyHandling, UpAndDownMoveWithoutWrapping) {
    show({hit("/a"), hit("/b"), hit("/c")});
    const struct {
        guint key;
        int selected;
    } steps[] = {{GDK_KEY_Down, 1}, {GDK_KEY_Down, 2}, {GDK_KEY_Down, 2},
                 {GDK_KEY_Up, 1},   {GDK_KEY_Up, 0},   {GDK_KEY_Up, 0}};
    for (const auto& step : steps) {
        EXPECT_TRUE(on_key_pressed(step.key, GdkModifierType(0), list_, close_));
        EXPECT_EQ(index_of_selected(), step.selected);
    }
    EXPECT_EQ(closes_, 0);
}

TEST_F(KeyHandling, SelectionSkipsRowsThatCannotBeSelected) {
    gtk_list_box_append(list_, message_row("m0"));
    gtk_list_box_append(list_, hit_row(hit("/h1")));
    gtk_list_box_append(list_, message_row("m2"));
    gtk_list_box_append(list_, hit_row(hit("/h3")));
    gtk_list_box_append(list_, message_row("m4"));
    gtk_list_box_unselect_all(list_);
    ASSERT_EQ(index_of_selected(), -1);

    move_selection(list_, Direction::Up);  // nothing selected: nothing happens
    EXPECT_EQ(index_of_selected(), -1);
    const struct {
        Direction direction;
        int selected;
    } steps[] = {{Direction::Down, 1},
                 {Direction::Down, 3},
                 {Direction::Down, 3},
                 {Direction::Up, 1},
                 {Direction::Up, 1}};
    for (const auto& step : steps) {
        move_selection(list_, step.direction);
        EXPECT_EQ(index_of_selected(), step.selected);
    }
}

TEST_F(KeyHandling, DownOnAListOfMessagesSelectsNothing) {
    gtk_list_box_append(list_, message_row("No results"));
    move_selection(list_, Direction::Down);
    EXPECT_EQ(index_of_selected(), -1);
}

TEST_F(KeyHandling, EnterWithoutAHitKeepsTheLauncherOpen) {
    for (guint key : {GDK_KEY_Return, GDK_KEY_KP_Enter}) {
        clear_list(list_);
        EXPECT_TRUE(on_key_pressed(key, GdkModifierType(0), list_, close_));  // empty list
        gtk_list_box_append(list_, message_row("No results"));
        EXPECT_TRUE(on_key_pressed(key, GdkModifierType(0), list_, close_));
        EXPECT_TRUE(on_key_pressed(key, GDK_CONTROL_MASK, list_, close_));
    }
    // A path that is not absolute is shown but never opened: as an option
    // of xdg-open, relative to the launcher's folder, or as no argument.
    for (const char* path : {"-x", "--help", "notes.txt", "", "./a", "~/a", "file:///a"}) {
        SCOPED_TRACE(path);
        show({hit(path)});
        EXPECT_TRUE(on_key_pressed(GDK_KEY_Return, GdkModifierType(0), list_, close_));
        EXPECT_TRUE(on_key_pressed(GDK_KEY_Return, GDK_CONTROL_MASK, list_, close_));
        on_row_activated(rows(list_)[0], close_);
    }
    gui_test::run_for(100ms);
    EXPECT_EQ(closes_, 0);
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "opened"));
}

TEST_F(KeyHandling, EnterOpensTheSelectedHitThenCloses) {
    struct Case {
        const char* name;
        guint key;
        GdkModifierType modifiers;
        std::string path;
        std::string opened;
    };
    const Case cases[] = {
        {"Return", GDK_KEY_Return, GdkModifierType(0), "/home/u/docs/report.pdf",
         "/home/u/docs/report.pdf"},
        {"keypad Enter", GDK_KEY_KP_Enter, GdkModifierType(0), "/home/u/a b.txt",
         "/home/u/a b.txt"},
        {"Shift+Return opens the file", GDK_KEY_Return, GDK_SHIFT_MASK, "/x/y", "/x/y"},
        {"Ctrl+Return opens the folder", GDK_KEY_Return, GDK_CONTROL_MASK,
         "/home/u/docs/report.pdf", "/home/u/docs"},
        {"Ctrl+Shift+keypad Enter", GDK_KEY_KP_Enter,
         GdkModifierType(GDK_CONTROL_MASK | GDK_SHIFT_MASK), "/a", "/"},
        {"Ctrl+Return on the root", GDK_KEY_Return, GDK_CONTROL_MASK, "/", "/"},
        {"a leading dash further on", GDK_KEY_Return, GDK_CONTROL_MASK, "/-x/--help", "/-x"},
        {"shell characters stay literal", GDK_KEY_Return, GdkModifierType(0), "/t/$(id);`x`",
         "/t/$(id);`x`"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir_.path() / "opened");
        closes_ = 0;
        show({hit(c.path), hit("/other")});
        EXPECT_TRUE(on_key_pressed(c.key, c.modifiers, list_, close_));
        EXPECT_EQ(closes_, 1);
        EXPECT_EQ(opened(), c.opened);
    }
}

TEST_F(KeyHandling, EnterClosesEvenWhenTheOpenerIsMissing) {
    gui_test::ScopedEnv no_opener("PATH", "/nonexistent");
    show({hit("/a")});
    EXPECT_TRUE(on_key_pressed(GDK_KEY_Return, GdkModifierType(0), list_, close_));
    EXPECT_EQ(closes_, 1);
}

TEST_F(KeyHandling, EscapeClosesAndOtherKeysPassThrough) {
    show({hit("/a")});
    for (guint key : {GDK_KEY_Tab, GDK_KEY_Home, GDK_KEY_End, GDK_KEY_a, GDK_KEY_Left}) {
        EXPECT_FALSE(on_key_pressed(key, GdkModifierType(0), list_, close_)) << key;
    }
    EXPECT_EQ(closes_, 0);
    EXPECT_TRUE(on_key_pressed(GDK_KEY_Escape, GdkModifierType(0), list_, close_));
    EXPECT_EQ(closes_, 1);
    gui_test::run_for(100ms);
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "opened"));
}

TEST_F(KeyHandling, RowActivationOpensHitRowsOnly) {
    gtk_list_box_append(list_, message_row("hint"));
    on_row_activated(rows(list_)[0], close_);
    EXPECT_EQ(closes_, 0);

    show({hit("/a/b.pdf")});
    on_row_activated(rows(list_)[0], close_);
    EXPECT_EQ(closes_, 1);
    EXPECT_EQ(opened(), "/a/b.pdf");
}

}  // namespace
}  // namespace flintsearch::window
