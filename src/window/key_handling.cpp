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

// The input method of a text widget: the one its key controller filters
// keys through (GtkText keeps its context private).
GtkIMContext* input_method_of(GtkWidget* widget) {
    GListModel* controllers = gtk_widget_observe_controllers(widget);
    GtkIMContext* found = nullptr;
    const guint count = g_list_model_get_n_items(controllers);
    for (guint i = 0; i < count && found == nullptr; ++i) {
        auto* controller = static_cast<GtkEventController*>(g_list_model_get_item(controllers, i));
        if (GTK_IS_EVENT_CONTROLLER_KEY(controller)) {
            found = gtk_event_controller_key_get_im_context(GTK_EVENT_CONTROLLER_KEY(controller));
        }
        g_object_unref(controller);
    }
    g_object_unref(controllers);
    return found;
}

}  // namespace

bool input_method_composing(GtkWidget* widget) {
    GtkRoot* root = widget != nullptr ? gtk_widget_get_root(widget) : nullptr;
    GtkWidget* focus = root != nullptr ? gtk_root_get_focus(root) : nullptr;
    GtkIMContext* im = focus != nullptr ? input_method_of(focus) : nullptr;
    if (im == nullptr) {
        return false;
    }
    // GTK's own compose handling shows a pending dead key or compose
    // sequence as preedit text too, so one test covers both.
    char* preedit = nullptr;
    gtk_im_context_get_preedit_string(im, &preedit, nullptr, nullptr);
    const bool composing = preedit != nullptr && *preedit != '\0';
    g_free(preedit);
    return composing;
}

gboolean on_key_pressed(guint keyval, GdkModifierType state, GtkListBox* list,
                        const CloseAction& close) {
    const Action action = map_key(keyval, static_cast<std::uint32_t>(state));
    // While the input method holds uncommitted text, these keys are its own
    // (Enter commits, Escape cancels, the arrows pick a candidate): they go
    // on to the entry, whose input method sees them first.
    if (action != Action::PassThrough && input_method_composing(GTK_WIDGET(list))) {
        return FALSE;
    }
    switch (action) {
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
