// The program entry: command line, single-instance toggle, then the GTK
// application whose "activate" builds the launcher window.
#include <gtk/gtk.h>

#include <csignal>
#include <memory>
#include <optional>

#include "cli/command_line.hpp"
#include "client/pending_search.hpp"
#include "gtk/ref.hpp"
#include "main/instance.hpp"
#include "window/launcher_window.hpp"
#include "window/signal.hpp"

namespace {

constexpr const char* kApplicationId = "io.github.flintsearch.flintsearch";

}  // namespace

int main(int argc, char** argv) {
    using namespace flintsearch;

    // Writes to a closed socket or pipe must fail with EPIPE, not end the
    // process. Children get the default disposition back when they start.
    std::signal(SIGPIPE, SIG_IGN);

    // Help and usage errors end the process inside the parser.
    const cli::Cli cli = cli::parse_command_line(argc, argv);
    std::optional<cli::ScreenshotRequest> screenshot = cli::screenshot_request(cli);

    // Normal mode: a second start stops the running launcher, before any
    // display connection exists.
    if (!screenshot && toggle_instance() == ToggleOutcome::StoppedAnother) {
        return 0;
    }

    // A screenshot run is non-unique: it neither becomes the primary
    // instance nor hands itself over to a running launcher.
    auto app = flint::adopt(gtk_application_new(
        kApplicationId, screenshot ? G_APPLICATION_NON_UNIQUE : G_APPLICATION_DEFAULT_FLAGS));

    window::LauncherState state{std::move(screenshot),
                                std::make_shared<client::PendingSearchSlot>()};
    const bool screenshot_mode = state.screenshot.has_value();
    window::connect<void(GtkApplication*)>(
        app.get(), "activate",
        [state = std::move(state)](GtkApplication* a) { window::build_launcher_window(a, state); });

    // GLib's option parsing sees only the program name (and nothing at all
    // in screenshot mode): our own options, accepted above, would otherwise
    // make it fail the run without an activation.
    char* program = argc > 0 ? argv[0] : nullptr;
    char* normal_argv[] = {program, nullptr};
    char* screenshot_argv[] = {nullptr};
    if (screenshot_mode || program == nullptr) {
        g_application_run(G_APPLICATION(app.get()), 0, screenshot_argv);
    } else {
        g_application_run(G_APPLICATION(app.get()), 1, normal_argv);
    }
    // The run's status is not used: a normal end is status 0.
    return 0;
}
