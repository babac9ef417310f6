#include "window/result_rows.hpp"

#include <algorithm>
#include <type_traits>
#include <variant>
#include <vector>

#include "flint/gtk/ref.hpp"
#include "window/row_text.hpp"

namespace flintsearch::window {
namespace {

// Rows are built in batches: the first at once (so a usual reply shows in
// the frame after it arrives), the rest one batch per main-loop iteration at
// idle priority, after input and redraws. 25 rows take about 12 ms here.
constexpr std::size_t ROWS_PER_BATCH = 25;
constexpr const char* BATCHES_KEY = "flintsearch-row-batches";

struct RowBatches {
    GtkListBox* list = nullptr;
    std::vector<client::Hit> hits;
    std::size_t next = 0;
    std::size_t left_out = 0;
    guint source = 0;
};

void append_message(GtkListBox* list, std::string_view text) {
    gtk_list_box_append(list, message_row(text));
}

// Appends the next batch; true when rows are left for another.
bool append_batch(RowBatches& b) {
    const std::size_t end = std::min(b.hits.size(), b.next + ROWS_PER_BATCH);
    for (; b.next < end; ++b.next) {
        gtk_list_box_append(b.list, hit_row(b.hits[b.next]));
    }
    if (b.next < b.hits.size()) {
        return true;
    }
    if (b.left_out > 0) {
        append_message(b.list, left_out_text(b.left_out));
    }
    return false;
}

void append_hit_rows(GtkListBox* list, std::vector<client::Hit> hits, std::size_t left_out) {
    auto* b = new RowBatches{list, std::move(hits), 0, left_out, 0};
    const bool more = append_batch(*b);
    if (GtkListBoxRow* first = gtk_list_box_get_row_at_index(list, 0)) {
        gtk_list_box_select_row(list, first);
    }
    if (!more) {
        delete b;
        return;
    }
    b->source = g_idle_add_full(
        G_PRIORITY_DEFAULT_IDLE,
        +[](gpointer data) -> gboolean {
            auto* self = static_cast<RowBatches*>(data);
            if (append_batch(*self)) {
                return G_SOURCE_CONTINUE;
            }
            self->source = 0;  // ends with this call; dropping the data frees it
            g_object_set_data(G_OBJECT(self->list), BATCHES_KEY, nullptr);
            return G_SOURCE_REMOVE;
        },
        b, nullptr);
    // Owned by the list: replacing or destroying the rows stops the batches.
    g_object_set_data_full(
        G_OBJECT(list), BATCHES_KEY, b, +[](gpointer data) {
            auto* self = static_cast<RowBatches*>(data);
            if (self->source != 0) {
                g_source_remove(self->source);
            }
            delete self;
        });
}

// The vertical adjustment of the scroller the list sits in, if any.
GtkAdjustment* list_adjustment(GtkListBox* list) {
    GtkWidget* scroller = gtk_widget_get_ancestor(GTK_WIDGET(list), GTK_TYPE_SCROLLED_WINDOW);
    return scroller != nullptr ? gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scroller))
                               : nullptr;
}

constexpr int ICON_PIXEL_SIZE = 24;

GQuark hit_path_quark() {
    return g_quark_from_static_string(HIT_PATH_KEY);
}

void delete_path(gpointer data) {
    delete static_cast<std::string*>(data);
}

// A GTK label text ends at the first NUL anyway; std::string keeps the rest
// for the row data.
GtkWidget* label(const std::string& text, const char* css_class) {
    GtkWidget* widget = gtk_label_new(text.c_str());
    gtk_widget_add_css_class(widget, css_class);
    return widget;
}

// The content type guessed from the file name alone (the file is never
// opened). A name with a NUL cannot be handed to the guess, so it gets the
// icon of the generic binary type.
flint::Ref<GIcon> content_type_icon(const std::string& path) {
    flint::GCharPtr type;
    if (path.find('\0') == std::string::npos) {
        type.reset(g_content_type_guess(path.c_str(), nullptr, 0, nullptr));
    } else {
        type.reset(g_strdup("application/octet-stream"));
    }
    return flint::adopt(g_content_type_get_icon(type.get()));
}

}  // namespace

void clear_list(GtkListBox* list) {
    g_return_if_fail(GTK_IS_LIST_BOX(list));
    g_object_set_data(G_OBJECT(list), BATCHES_KEY, nullptr);
    while (GtkWidget* child = gtk_widget_get_first_child(GTK_WIDGET(list))) {
        // Held across the removal so the row is still valid while the list
        // lets go of it; dropping this reference destroys it.
        auto row = flint::retain(child);
        gtk_list_box_remove(list, child);
    }
    if (GtkAdjustment* adjustment = list_adjustment(list)) {
        gtk_adjustment_set_value(adjustment, gtk_adjustment_get_lower(adjustment));
    }
}

void scroll_row_into_view(GtkListBox* list, GtkListBoxRow* row) {
    g_return_if_fail(GTK_IS_LIST_BOX(list));
    g_return_if_fail(GTK_IS_LIST_BOX_ROW(row));
    GtkWidget* scroller = gtk_widget_get_ancestor(GTK_WIDGET(list), GTK_TYPE_SCROLLED_WINDOW);
    graphene_rect_t bounds;
    // Measured against the scroller itself, so whatever margins and padding
    // the stylesheets give the list, "in view" means inside what it shows. A
    // row not laid out yet has no place to scroll to; the next change of the
    // view brings it in (keep_selection_in_view).
    if (scroller == nullptr || !gtk_widget_compute_bounds(GTK_WIDGET(row), scroller, &bounds)) {
        return;
    }
    GtkAdjustment* adjustment = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scroller));
    const double top = bounds.origin.y;
    const double bottom = top + bounds.size.height;
    const double shown = gtk_widget_get_height(scroller);
    const double value = gtk_adjustment_get_value(adjustment);
    // The first and the last row take the list's own padding along.
    const int index = gtk_list_box_row_get_index(row);
    if (top < 0) {
        gtk_adjustment_set_value(adjustment,
                                 index == 0 ? gtk_adjustment_get_lower(adjustment) : value + top);
    } else if (bottom > shown) {
        const bool last = gtk_list_box_get_row_at_index(list, index + 1) == nullptr;
        gtk_adjustment_set_value(
            adjustment, last ? gtk_adjustment_get_upper(adjustment) : value + (bottom - shown));
    }
}

void keep_selection_in_view(GtkListBox* list) {
    g_return_if_fail(GTK_IS_LIST_BOX(list));
    GtkAdjustment* adjustment = list_adjustment(list);
    g_return_if_fail(adjustment != nullptr);
    g_signal_connect_object(adjustment, "changed", G_CALLBACK(+[](GtkAdjustment*, gpointer data) {
                                auto* rows = static_cast<GtkListBox*>(data);
                                if (GtkListBoxRow* row = gtk_list_box_get_selected_row(rows)) {
                                    scroll_row_into_view(rows, row);
                                }
                            }),
                            list, G_CONNECT_DEFAULT);
}

GtkWidget* message_row(std::string_view text) {
    GtkWidget* row = gtk_list_box_row_new();
    gtk_list_box_row_set_activatable(GTK_LIST_BOX_ROW(row), FALSE);
    gtk_list_box_row_set_selectable(GTK_LIST_BOX_ROW(row), FALSE);
    GtkWidget* text_label = label(std::string(text), "hit-muted");
    gtk_widget_set_margin_top(text_label, 12);
    gtk_widget_set_margin_bottom(text_label, 12);
    gtk_list_box_row_set_child(GTK_LIST_BOX_ROW(row), text_label);
    return row;
}

GtkWidget* hit_row(const client::Hit& hit) {
    GtkWidget* row = gtk_list_box_row_new();
    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
    gtk_widget_set_margin_start(column, 6);
    gtk_widget_set_margin_end(column, 6);
    gtk_widget_set_margin_top(column, 4);
    gtk_widget_set_margin_bottom(column, 4);
    GtkWidget* top_line = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);

    const flint::Ref<GIcon> icon = content_type_icon(hit.path);
    GtkWidget* image = gtk_image_new_from_gicon(icon.get());
    gtk_image_set_pixel_size(GTK_IMAGE(image), ICON_PIXEL_SIZE);
    gtk_box_append(GTK_BOX(top_line), image);

    GtkWidget* title = label(label_text(hit.title, Keep::Start), "hit-title");
    gtk_label_set_xalign(GTK_LABEL(title), 0.0f);
    gtk_widget_set_hexpand(title, TRUE);
    gtk_label_set_ellipsize(GTK_LABEL(title), PANGO_ELLIPSIZE_END);
    gtk_box_append(GTK_BOX(top_line), title);

    GtkWidget* score = label(score_text(hit.score), "hit-score");
    gtk_label_set_xalign(GTK_LABEL(score), 1.0f);
    gtk_box_append(GTK_BOX(top_line), score);
    gtk_box_append(GTK_BOX(column), top_line);

    // A long path loses its beginning, so the file name stays visible.
    GtkWidget* path = label(label_text(hit.path, Keep::End), "hit-muted");
    gtk_label_set_xalign(GTK_LABEL(path), 0.0f);
    gtk_label_set_ellipsize(GTK_LABEL(path), PANGO_ELLIPSIZE_START);
    gtk_box_append(GTK_BOX(column), path);

    if (const std::string line = snippet_line(hit.snippet); !line.empty()) {
        GtkWidget* snippet = label(label_text(line, Keep::Start), "hit-snippet");
        gtk_label_set_xalign(GTK_LABEL(snippet), 0.0f);
        gtk_label_set_ellipsize(GTK_LABEL(snippet), PANGO_ELLIPSIZE_END);
        gtk_box_append(GTK_BOX(column), snippet);
    }

    gtk_list_box_row_set_child(GTK_LIST_BOX_ROW(row), column);
    // Read out as one sentence rather than as four unnamed labels.
    const std::string spoken = accessible_row_text(hit.title, hit.score, hit.path);
    gtk_accessible_update_property(GTK_ACCESSIBLE(row), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   spoken.c_str(), -1);
    // The row's own copy, NULs included, freed when the row is finalised.
    g_object_set_qdata_full(G_OBJECT(row), hit_path_quark(), new std::string(hit.path),
                            delete_path);
    return row;
}

const std::string* hit_path(GtkListBoxRow* row) {
    g_return_val_if_fail(GTK_IS_LIST_BOX_ROW(row), nullptr);
    return static_cast<const std::string*>(g_object_get_qdata(G_OBJECT(row), hit_path_quark()));
}

namespace {

// Tells a screen reader how many hits came: the list's name says it (what
// GTK 4.8 offers), and from GTK 4.14 on it is also announced as it arrives.
void announce_count(GtkListBox* list, std::size_t count) {
    const std::string text = count == 1 ? "1 result" : std::to_string(count) + " results";
    gtk_accessible_update_property(GTK_ACCESSIBLE(list), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   text.c_str(), -1);
#if GTK_CHECK_VERSION(4, 14, 0)
    gtk_accessible_announce(GTK_ACCESSIBLE(list), text.c_str(),
                            GTK_ACCESSIBLE_ANNOUNCEMENT_PRIORITY_MEDIUM);
#endif
}

}  // namespace

void render_outcome(GtkListBox* list, client::Outcome outcome) {
    g_return_if_fail(GTK_IS_LIST_BOX(list));
    clear_list(list);
    if (!outcome) {
        append_message(list, std::string(CLIENT_ERROR_PREFIX) + outcome.error().text);
        return;
    }
    std::visit(
        [list](auto&& response) {
            using T = std::decay_t<decltype(response)>;
            if constexpr (std::is_same_v<T, client::Hits>) {
                if (response.hits.empty()) {
                    append_message(list, NO_RESULTS_TEXT);
                    return;
                }
                const std::size_t count = response.hits.size();
                append_hit_rows(list, std::move(response.hits), response.left_out);
                announce_count(list, count + response.left_out);
            } else if constexpr (std::is_same_v<T, client::Error>) {
                append_message(list, std::string(ERROR_PREFIX) + response.message);
            }
            // StatusInfo and Ok: no query should produce them; the list
            // stays empty.
        },
        std::move(*outcome));
}

}  // namespace flintsearch::window
