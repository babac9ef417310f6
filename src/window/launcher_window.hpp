// The launcher window: a full-output transparent layer surface holding the
// 640 px panel with the search entry and the result list. Main thread only.
#pragma once

#include <gtk/gtk.h>

#include <optional>
#include <string>

#include "cli/command_line.hpp"
#include "client/pending_search.hpp"
#include "flint/palette.hpp"
#include "window/key_handling.hpp"

namespace flintsearch::window {

// Names of the window's own key controller and click gesture (GTK adds
// controllers of its own to every window).
inline constexpr const char* KEY_CONTROLLER_NAME = "flintsearch-keys";
inline constexpr const char* CLICK_GESTURE_NAME = "flintsearch-outside-press";

struct LauncherState {
    std::optional<cli::ScreenshotRequest> screenshot;
    // Shared by every window of the process; it also says where searches go.
    client::PendingSearchSlotRef slot;
    // The pid file that closing removes; none in a screenshot run, which
    // never wrote one (and must leave a running launcher's file intact).
    std::optional<std::string> pid_file;
    // The user stylesheet, read on every activation.
    std::string user_css;
    // A resident instance (flintsearch-resident) builds its window without
    // showing it, and every close hides the window instead of destroying it.
    bool resident = false;
};

// The "activate" handler: installs the stylesheets, then builds and presents
// the launcher window with the entry focused. The process has at most one
// launcher window: a repeated activation reloads the user stylesheet and
// presents the existing window instead of building another.
void build_launcher_window(GtkApplication* app, const LauncherState& state);

// The launcher window of the application, or nullptr when none is open.
GtkWindow* find_launcher_window(GtkApplication* app);

// The shared close action for the window: removes the pid file (when there
// is one), then closes the window. Holds a
// weak reference to the window: the handlers that share it belong to the
// window, and a strong one would keep it from ever being disposed.
CloseLauncher make_close_launcher(GtkWindow* window, std::optional<std::string> pid_file);

// A resident's close action: hides the window (see hide_launcher). Holds a
// weak reference to the window, like make_close_launcher.
CloseLauncher make_hide_launcher(GtkWindow* window);

// A resident's window shown again as a fresh start shows it: the user
// stylesheet read afresh, the entry empty and focused, the hint row, the
// list scrolled to the top.
void show_launcher(GtkWindow* window, const std::string& user_css);

// Hides a resident's window. The entry is emptied: a search still waiting
// in its delay is cancelled, and the outcome of one in flight is dropped.
void hide_launcher(GtkWindow* window);

// A resident's answer to the toggle: shows the window when it is hidden,
// hides it when it is shown.
void toggle_launcher(GtkWindow* window, const std::string& user_css);

// The window's click-gesture "pressed" handler: a press at (x, y), in window
// coordinates, outside the content box's bounds closes the launcher (edges
// count as inside). A failed bounds computation ignores the press.
void on_outside_press(GtkWidget* content, GtkWidget* window, double x, double y,
                      const CloseAction& close);

}  // namespace flintsearch::window
