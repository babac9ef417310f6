// The interface module: the GTK application whose "activate" builds the
// launcher window. Loaded by the executable once the toggle has decided that
// this start shows a window.
#include "main/ui_module.hpp"

#include <gtk/gtk.h>

#include <memory>
#include <optional>

#include "client/pending_search.hpp"
#include "gtk/ref.hpp"
#include "window/launcher_window.hpp"
#include "window/signal.hpp"

namespace {

constexpr const char* kApplicationId = "io.github.flintsearch.flintsearch";

int run_application(int argc, char** argv,
                    std::optional<flintsearch::cli::ScreenshotRequest> screenshot) {
    using namespace flintsearch;

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
    // in screenshot mode): our own options, accepted before, would otherwise
    // make it fail the run without an activation.
    char* program = argc > 0 ? argv[0] : nullptr;
    char* normal_argv[] = {program, nullptr};
    char* screenshot_argv[] = {nullptr};
    if (screenshot_mode || program == nullptr) {
        return g_application_run(G_APPLICATION(app.get()), 0, screenshot_argv);
    }
    return g_application_run(G_APPLICATION(app.get()), 1, normal_argv);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int flintsearch_ui_run_v1(
    int argc, char** argv, const std::optional<flintsearch::cli::ScreenshotRequest>* screenshot) {
    return run_application(argc, argv, screenshot != nullptr ? *screenshot : std::nullopt);
}

// The executable resolves the entry by name; this keeps the name and the
// type in step with the header at compile time.
[[maybe_unused]] static constexpr flintsearch::UiEntry kEntryCheck = &flintsearch_ui_run_v1;
