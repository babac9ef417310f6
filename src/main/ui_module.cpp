// The interface module: the GTK application whose "activate" builds the
// launcher window. Loaded by the executable once the toggle has decided that
// this start shows a window.
#include "main/ui_module.hpp"

#include <gtk/gtk.h>

#include <memory>
#include <optional>
#include <string>

#include "client/pending_search.hpp"
#include "flint/gtk/ref.hpp"
#include "flint/report.hpp"
#include "util/program.hpp"
#include "window/launcher_window.hpp"
#include "window/signal.hpp"

namespace {

using namespace flintsearch;

constexpr const char* kApplicationId = "io.github.flintsearch.flintsearch";

std::string text_or_empty(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

// The C++ side of what the executable handed over.
window::LauncherState launcher_state(const FlintsearchUiStart& start) {
    window::LauncherState state;
    if (start.screenshot_view != nullptr) {
        state.screenshot =
            cli::ScreenshotRequest{start.screenshot_view, text_or_empty(start.screenshot_output),
                                   start.screenshot_width, start.screenshot_height};
    }
    if (start.pid_file != nullptr) {
        state.pid_file = start.pid_file;
    }
    state.user_css = text_or_empty(start.user_css);
    state.slot = std::make_shared<client::PendingSearchSlot>();
    state.slot->socket_path = text_or_empty(start.daemon_socket);
    return state;
}

int run_application(const FlintsearchUiStart& start) {
    // What the theme library has to say (a refused stylesheet) is the
    // program's own console line.
    flint::set_reporter([](std::string_view message) { util::report(message); });
    window::LauncherState state = launcher_state(start);
    const bool screenshot_mode = state.screenshot.has_value();

    // A screenshot run is non-unique: it neither becomes the primary
    // instance nor hands itself over to a running launcher.
    auto app = flint::adopt(gtk_application_new(
        kApplicationId, screenshot_mode ? G_APPLICATION_NON_UNIQUE : G_APPLICATION_DEFAULT_FLAGS));
    window::connect<void(GtkApplication*)>(
        app.get(), "activate",
        [state = std::move(state)](GtkApplication* a) { window::build_launcher_window(a, state); });

    // GLib's option parsing sees only the program name (and nothing at all
    // in screenshot mode): our own options, accepted before, would otherwise
    // make it fail the run without an activation.
    char* program = start.argc > 0 ? start.argv[0] : nullptr;
    char* normal_argv[] = {program, nullptr};
    char* screenshot_argv[] = {nullptr};
    if (screenshot_mode || program == nullptr) {
        return g_application_run(G_APPLICATION(app.get()), 0, screenshot_argv);
    }
    return g_application_run(G_APPLICATION(app.get()), 1, normal_argv);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int flintsearch_ui_run_v2(
    const FlintsearchUiStart* start) {
    if (start == nullptr) {
        return 1;
    }
    return run_application(*start);
}

// The executable resolves the entry by name; this keeps the name and the
// type in step with the header at compile time.
[[maybe_unused]] static constexpr FlintsearchUiEntry kEntryCheck = &flintsearch_ui_run_v2;
