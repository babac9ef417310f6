// The boundary between the program's two halves. The executable holds the
// command line and the single-instance toggle and links no GTK, so the
// closing press of the toggle (a second start that stops the running
// launcher) never pays for loading GTK and its dozens of libraries. Only a
// start that goes on to show a window loads the interface module, which
// holds everything from the GTK application down.
#pragma once

#include <optional>

#include "cli/command_line.hpp"

namespace flintsearch {

// The module's file name. The executable looks for it beside itself (the
// build tree), then in the installed module directory.
inline constexpr const char* UI_MODULE_FILE = "flintsearch-ui.so";

// The entry point the module exports, with C linkage so dlsym can find it.
// The version is part of the name: an executable never calls into a module
// built from other sources with another signature.
inline constexpr const char* UI_ENTRY_SYMBOL = "flintsearch_ui_run_v1";

// Creates the GTK application, runs it and returns once it ends (screenshot
// mode ends the process from inside the run). `screenshot` is the request
// derived from the command line, or none in normal mode.
using UiEntry = int (*)(int argc, char** argv,
                        const std::optional<cli::ScreenshotRequest>* screenshot);

}  // namespace flintsearch
