// Screenshot mode's window side: the view check and the capture timer. The
// capture itself (grim, no GTK) is screenshot/capture.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <string>

#include "cli/command_line.hpp"

namespace flintsearch::window {

// Accepts only the view "search" (then schedules the capture); any other
// view prints the unknown-view message and ends the process with status 1.
void check_screenshot_view(GtkWindow* window, const cli::ScreenshotRequest& request);

// Every "map" of the window starts a one-shot 300 ms timer that captures.
void schedule_capture(GtkWindow* window, const std::string& output, std::uint32_t width,
                      std::uint32_t height);

}  // namespace flintsearch::window
