// The launcher window: a full-output transparent layer surface holding the
// 640 px panel with the search entry and the result list.
#pragma once

#include <gtk/gtk.h>

#include <optional>
#include <string>

#include "cli/command_line.hpp"
#include "client/pending_search.hpp"
#include "palette.hpp"

namespace flintsearch::window {

struct LauncherState {
    std::optional<cli::ScreenshotRequest> screenshot;
    client::PendingSearchSlotRef slot;
};

// The "activate" handler: builds (or, on a repeated activation, presents)
// the launcher window.
void build_launcher_window(GtkApplication* app, const LauncherState& state);

// The launcher's own stylesheet for a palette (one line, no line breaks).
std::string launcher_css(const flint::Palette& palette);

// XDG_CONFIG_HOME, else HOME (or /tmp) joined with ".config"; then
// joined with "flintsearch".
std::string config_dir();

}  // namespace flintsearch::window
