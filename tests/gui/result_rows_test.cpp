#include "window/result_rows.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "flint/gtk/ref.hpp"
#include "gui_support.hpp"

namespace flintsearch::window {
namespace {

using gui_test::children;
using gui_test::message_text;
using gui_test::rows;

client::Hit make_hit(std::string title, std::string path, std::string snippet, float score) {
    return client::Hit{std::move(title), std::move(path), std::move(snippet), score};
}

// A list box that the test owns (not in a window).
class ResultRows : public ::testing::Test {
  protected:
    void SetUp() override {
        gui_test::test_application();
        list_ = GTK_LIST_BOX(g_object_ref_sink(gtk_list_box_new()));
        gtk_list_box_set_selection_mode(list_, GTK_SELECTION_BROWSE);
        gtk_list_box_append(list_, message_row("stale"));
    }
    void TearDown() override { g_object_unref(list_); }

    GtkListBox* list_ = nullptr;
};

void expect_label(GtkWidget* widget, const std::string& text, const char* css_class, float xalign,
                  PangoEllipsizeMode ellipsize) {
    ASSERT_TRUE(GTK_IS_LABEL(widget));
    EXPECT_EQ(gtk_label_get_text(GTK_LABEL(widget)), text);
    EXPECT_TRUE(gtk_widget_has_css_class(widget, css_class)) << css_class;
    EXPECT_FLOAT_EQ(gtk_label_get_xalign(GTK_LABEL(widget)), xalign);
    EXPECT_EQ(gtk_label_get_ellipsize(GTK_LABEL(widget)), ellipsize);
}

bool icon_of_type(GtkWidget* image, const char* content_type) {
    flint::Ref<GIcon> expected = flint::adopt(g_content_type_get_icon(content_type));
    GIcon* actual = gtk_image_get_gicon(GTK_IMAGE(image));
    return actual != nullptr && g_icon_equal(actual, expected.get());
}

TEST_F(ResultRows, ThreeHitsGiveThreeRowsInOrderWithTheFirstSelected) {
    client::Hits hits{{
        make_hit("Report", "/home/u/docs/report.pdf", "  first line  \r\nsecond", 0.873f),
        make_hit("Notes", "/home/u/notes.txt", "\n  second line", 0.125f),
        make_hit("Data", "/home/u/data", "", -0.05f),
    }};
    render_outcome(list_, client::Response{hits});

    const auto shown = rows(list_);
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(gtk_list_box_get_selected_row(list_), shown[0]);

    const char* scores[] = {"87%", "12%", "0%"};
    for (std::size_t i = 0; i < shown.size(); ++i) {
        SCOPED_TRACE(i);
        const client::Hit& hit = hits.hits[i];
        GtkListBoxRow* row = shown[i];
        EXPECT_TRUE(gtk_list_box_row_get_selectable(row));
        EXPECT_TRUE(gtk_list_box_row_get_activatable(row));
        ASSERT_NE(hit_path(row), nullptr);
        EXPECT_EQ(*hit_path(row), hit.path);
        EXPECT_EQ(g_object_get_qdata(G_OBJECT(row), g_quark_from_string("hit_path")),
                  hit_path(row));

        GtkWidget* column = gtk_list_box_row_get_child(row);
        ASSERT_TRUE(GTK_IS_BOX(column));
        EXPECT_EQ(gtk_orientable_get_orientation(GTK_ORIENTABLE(column)), GTK_ORIENTATION_VERTICAL);
        EXPECT_EQ(gtk_box_get_spacing(GTK_BOX(column)), 2);
        EXPECT_EQ(gtk_widget_get_margin_start(column), 6);
        EXPECT_EQ(gtk_widget_get_margin_end(column), 6);
        EXPECT_EQ(gtk_widget_get_margin_top(column), 4);
        EXPECT_EQ(gtk_widget_get_margin_bottom(column), 4);

        const auto parts = children(column);
        ASSERT_EQ(parts.size(), i == 0 ? 3u : 2u);  // only the first has a snippet line
        GtkWidget* top = parts[0];
        ASSERT_TRUE(GTK_IS_BOX(top));
        EXPECT_EQ(gtk_orientable_get_orientation(GTK_ORIENTABLE(top)), GTK_ORIENTATION_HORIZONTAL);
        EXPECT_EQ(gtk_box_get_spacing(GTK_BOX(top)), 0);
        const auto line = children(top);
        ASSERT_EQ(line.size(), 3u);
        ASSERT_TRUE(GTK_IS_IMAGE(line[0]));
        EXPECT_EQ(gtk_image_get_pixel_size(GTK_IMAGE(line[0])), 24);
        expect_label(line[1], hit.title, "hit-title", 0.0f, PANGO_ELLIPSIZE_END);
        EXPECT_TRUE(gtk_widget_get_hexpand(line[1]));
        expect_label(line[2], scores[i], "hit-score", 1.0f, PANGO_ELLIPSIZE_NONE);
        expect_label(parts[1], hit.path, "hit-muted", 0.0f, PANGO_ELLIPSIZE_START);
        if (i == 0) {
            expect_label(parts[2], "first line", "hit-snippet", 0.0f, PANGO_ELLIPSIZE_END);
        }
    }
}

TEST_F(ResultRows, IconComesFromTheFileNameAlone) {
    render_outcome(list_, client::Response{client::Hits{{
                              make_hit("a", "/no/such/dir/invoice.pdf", "", 1),
                              make_hit("b", "/no/such/dir/README", "", 1),
                          }}});
    const auto shown = rows(list_);
    ASSERT_EQ(shown.size(), 2u);
    for (GtkListBoxRow* row : shown) {
        const std::string& path = *hit_path(row);
        SCOPED_TRACE(path);
        flint::GCharPtr type(g_content_type_guess(path.c_str(), nullptr, 0, nullptr));
        GtkWidget* image = children(children(gtk_list_box_row_get_child(row))[0])[0];
        EXPECT_TRUE(icon_of_type(image, type.get()));
    }
    flint::GCharPtr pdf(g_content_type_guess("x.pdf", nullptr, 0, nullptr));
    EXPECT_TRUE(g_content_type_equals(pdf.get(), "application/pdf"));
}

TEST_F(ResultRows, PathWithNulStillGetsARowAndKeepsTheWholePath) {
    const std::string path("/home/u/a\0b.pdf", 15);
    render_outcome(list_, client::Response{client::Hits{{make_hit("t", path, "s", 0.5f)}}});
    const auto shown = rows(list_);
    ASSERT_EQ(shown.size(), 1u);
    ASSERT_NE(hit_path(shown[0]), nullptr);
    EXPECT_EQ(*hit_path(shown[0]), path);
    const auto parts = children(gtk_list_box_row_get_child(shown[0]));
    EXPECT_TRUE(icon_of_type(children(parts[0])[0], "application/octet-stream"));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(parts[1])), "/home/u/a");
}

TEST_F(ResultRows, MessageOutcomesGiveOneInertRow) {
    struct Case {
        const char* name;
        client::Outcome outcome;
        const char* text;
    };
    const Case cases[] = {
        {"no hits", client::Response{client::Hits{}}, "No results"},
        {"daemon error", client::Response{client::Error{"index locked"}}, "Error: index locked"},
        {"client error", unexpected(client::ClientError{"No such file or directory (os error 2)"}),
         "flintmill not running: No such file or directory (os error 2)"},
        {"empty daemon message", client::Response{client::Error{""}}, "Error: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        render_outcome(list_, c.outcome);
        const auto shown = rows(list_);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(message_text(shown[0]), c.text);
        EXPECT_FALSE(gtk_list_box_row_get_selectable(shown[0]));
        EXPECT_FALSE(gtk_list_box_row_get_activatable(shown[0]));
        EXPECT_EQ(hit_path(shown[0]), nullptr);
        EXPECT_EQ(gtk_list_box_get_selected_row(list_), nullptr);
        GtkWidget* label = gtk_list_box_row_get_child(shown[0]);
        EXPECT_TRUE(gtk_widget_has_css_class(label, "hit-muted"));
        EXPECT_EQ(gtk_widget_get_margin_top(label), 12);
        EXPECT_EQ(gtk_widget_get_margin_bottom(label), 12);
        EXPECT_EQ(gtk_widget_get_halign(label), GTK_ALIGN_FILL);
    }
}

TEST_F(ResultRows, StatusAndOkLeaveTheListEmpty) {
    render_outcome(list_, client::Response{client::StatusInfo{3, 1, true}});
    EXPECT_TRUE(rows(list_).empty());
    gtk_list_box_append(list_, message_row("x"));
    render_outcome(list_, client::Response{client::Ok{}});
    EXPECT_TRUE(rows(list_).empty());
}

TEST_F(ResultRows, ManyHitsArriveInBatchesAndWhatWasLeftOutIsCounted) {
    client::Hits hits;
    for (int i = 0; i < 120; ++i) {
        hits.hits.push_back(make_hit("t" + std::to_string(i), "/p/" + std::to_string(i), "", 0));
    }
    hits.left_out = 1234;
    render_outcome(list_, client::Response{hits});
    // The first batch at once, selected; the rest, in order, from idle.
    const std::size_t first_batch = rows(list_).size();
    EXPECT_GE(first_batch, 10u);
    EXPECT_LT(first_batch, 120u);
    EXPECT_EQ(gtk_list_box_get_selected_row(list_), gtk_list_box_get_row_at_index(list_, 0));
    ASSERT_TRUE(gui_test::run_until([&] { return rows(list_).size() == 121; }));
    const auto shown = rows(list_);
    EXPECT_EQ(*hit_path(shown[119]), "/p/119");
    EXPECT_EQ(message_text(shown[120]), "1,234 more hits not shown");

    // New rows stop the batches still to come.
    render_outcome(list_, client::Response{hits});
    render_outcome(list_, client::Response{client::Hits{{make_hit("n", "/new", "", 0)}}});
    gui_test::run_for(std::chrono::milliseconds(200));
    ASSERT_EQ(rows(list_).size(), 1u);
    EXPECT_EQ(*hit_path(rows(list_)[0]), "/new");
}

TEST_F(ResultRows, ClearingDestroysTheRowsAndTheirPathCopies) {
    render_outcome(list_, client::Response{client::Hits{{make_hit("a", "/a", "", 0)}}});
    GtkListBoxRow* row = rows(list_).at(0);
    gpointer watched = row;
    g_object_add_weak_pointer(G_OBJECT(row), &watched);
    clear_list(list_);
    EXPECT_TRUE(rows(list_).empty());
    EXPECT_EQ(watched, nullptr);
}

}  // namespace
}  // namespace flintsearch::window
