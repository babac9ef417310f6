// The boundary between the program's two halves. The executable holds the
// command line and the single-instance toggle and links no GTK, so the
// closing press of the toggle (a second start that stops the running
// launcher) never pays for loading GTK and its dozens of libraries. Only a
// start that goes on to show a window loads the interface module, which
// holds everything from the GTK application down.
//
// The module is entered through C: the executable hands over plain C
// values, and the module builds its own C++ request from them.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// What one start hands to the module. Strings are NUL-terminated and stay
// valid for the whole run; they come from the command line or the
// environment, neither of which can hold a NUL byte.
struct FlintsearchUiStart {
    int argc;
    char** argv;
    // Screenshot mode when screenshot_view is not NULL; then the output
    // path, width and height of the capture.
    const char* screenshot_view;
    const char* screenshot_output;
    uint32_t screenshot_width;
    uint32_t screenshot_height;
    // Paths resolved once at start: the pid file that this start claimed and
    // that close removes (NULL when none was claimed, as in screenshot
    // mode), the daemon's socket and the user stylesheet.
    const char* pid_file;
    const char* daemon_socket;
    const char* user_css;
};

// Creates the GTK application, runs it and returns once it ends (screenshot
// mode ends the process from inside the run).
typedef int (*FlintsearchUiEntry)(const struct FlintsearchUiStart* start);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
namespace flintsearch {

// The module's file name. The executable looks for it beside itself (the
// build tree), then in the installed module directory.
inline constexpr const char* UI_MODULE_FILE = "flintsearch-ui.so";

// The entry point the module exports. The executable and the module are
// built and installed together; ui_module.cpp checks the entry's type
// against FlintsearchUiEntry at compile time.
inline constexpr const char* UI_ENTRY_SYMBOL = "flintsearch_ui_run";

}  // namespace flintsearch
#endif
