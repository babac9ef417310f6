#include "window/key_handling.hpp"

#include "util/spawn.hpp"
#include "window/key_map.hpp"
#include "window/result_rows.hpp"
#include "window/row_text.hpp"

namespace flintsearch::window {
namespace {

// The child outlives the launcher's interest in it; the watch only reaps it
// so it does not linger as a zombie while the launcher runs.
void reap_child(GPid pid, gint /*status*/, gpointer /*data*/) {
    g_spawn_close_pid(pid);
}

void open_selected(GtkListBox* list, bool folder, const CloseAction& close) {
    GtkListBoxRow* row = gtk_list_box_get_selected_row(list);
    if (row == nullptr) {
        return;
    }
    const std::string* stored = hit_path(row);
    if (stored == nullptr || !is_openable_path(*stored)) {
        return;  // a message row, or a path that is not absolute: the launcher stays open
    }
    // Copied: closing the window destroys the row and its data.
    const std::string path = *stored;
    if (folder) {
        open_containing_folder(path);
    } else {
        open_location(path);
    }
    close();
}

}  // namespace

gboolean on_key_pressed(guint keyval, GdkModifierType state, GtkListBox* list,
                        const CloseAction& close) {
    switch (map_key(keyval, static_cast<std::uint32_t>(state))) {
        case Action::OpenSelected:
            open_selected(list, false, close);
            return TRUE;
        case Action::OpenSelectedFolder:
            open_selected(list, true, close);
            return TRUE;
        case Action::Close:
            close();
            return TRUE;
        case Action::SelectPrevious:
            move_selection(list, Direction::Up);
            return TRUE;
        case Action::SelectNext:
            move_selection(list, Direction::Down);
            return TRUE;
        case Action::PassThrough:
            break;
    }
    return FALSE;
}

void on_row_activated(GtkListBoxRow* row, const CloseAction& close) {
    const std::string* stored = hit_path(row);
    if (stored == nullptr || !is_openable_path(*stored)) {
        return;
    }
    const std::string path = *stored;
    open_location(path);
    close();
}

void move_selection(GtkListBox* list, Direction direction) {
    g_return_if_fail(GTK_IS_LIST_BOX(list));
    GtkListBoxRow* selected = gtk_list_box_get_selected_row(list);
    if (direction == Direction::Up && selected == nullptr) {
        return;
    }
    // Walk from the neighbour of the selection (or from the top when nothing
    // is selected) to the first selectable row; never wrap around.
    const int step = direction == Direction::Up ? -1 : 1;
    for (int j = selected != nullptr ? gtk_list_box_row_get_index(selected) + step : 0; j >= 0;
         j += step) {
        GtkListBoxRow* row = gtk_list_box_get_row_at_index(list, j);
        if (row == nullptr) {
            return;
        }
        if (gtk_list_box_row_get_selectable(row)) {
            gtk_list_box_select_row(list, row);
            scroll_row_into_view(list, row);
            return;
        }
    }
}

void open_location(const std::string& path) {
    open_with_default_app(path);
}

void open_containing_folder(const std::string& path) {
    open_with_default_app(parent_folder(path));
}

void open_with_default_app(const std::string& arg) {
    // No shell, nothing quoted: the text reaches xdg-open as its one
    // argument. Its standard streams go to the null device, and the launcher
    // does not wait for it (the watch only reaps it).
    const auto child = util::spawn({.argv = {DEFAULT_APP_LAUNCHER, arg},
                                    .in = util::Stream::Null,
                                    .out = util::Stream::Null,
                                    .err = util::Stream::Null});
    if (child) {
        g_child_watch_add(child->pid, reap_child, nullptr);
    }
}

}  // namespace flintsearch::window
