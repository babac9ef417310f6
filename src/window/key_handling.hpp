// Keyboard navigation, row activation and opening hits. Main thread only.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>

namespace flintsearch::window {

// The shared close action (remove the pid file, close the window). Shared by
// the key handler, the row-activation handler and the outside-press handler;
// it holds a weak reference to the window.
using CloseAction = std::function<void()>;
using CloseLauncher = std::shared_ptr<const CloseAction>;

enum class Direction { Up, Down };

// The window's capture-phase "key-pressed" handler. Return and keypad Enter
// open the selected hit (Ctrl: its folder) and close the launcher (a hit
// whose path is not absolute is not opened, and the launcher stays), Escape
// closes it, Up and Down move the selection; those return TRUE. Every other
// key returns FALSE and goes on to the search entry, and so do those five
// while the input method of the focused text holds uncommitted text (a dead
// key, a compose sequence, an input method's preedit).
gboolean on_key_pressed(guint keyval, GdkModifierType state, GtkListBox* list,
                        const CloseAction& close);

// Whether the input method of the focused widget in the widget's window
// holds uncommitted text.
bool input_method_composing(GtkWidget* widget);

// The list's "row-activated" handler: opens a hit row's path and closes the
// launcher; message rows and hits whose path is not absolute are ignored.
void on_row_activated(GtkListBoxRow* row, const CloseAction& close);

// Moves the selection to the nearest selectable row in the direction, never
// wrapping. Down with nothing selected selects the first selectable row; Up
// with nothing selected does nothing. The newly selected row is scrolled
// fully into view.
void move_selection(GtkListBox* list, Direction direction);

// Opens the path with the desktop's default application.
void open_location(const std::string& path);

// Opens the folder that contains the path (the path itself when it has no
// parent).
void open_containing_folder(const std::string& path);

// Starts "xdg-open" with the text as its one argument, detached; failures
// are dropped silently. The child is reaped from the main loop.
void open_with_default_app(const std::string& arg);

// The program open_with_default_app starts.
inline constexpr const char* DEFAULT_APP_LAUNCHER = "xdg-open";

}  // namespace flintsearch::window
