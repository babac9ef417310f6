#include "window/screenshot_view.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string_view>

#include "screenshot/capture.hpp"
#include "util/program.hpp"

namespace flintsearch::window {
namespace {

using screenshot::CAPTURE_DELAY;
using screenshot::capture_output;
using screenshot::CaptureError;
using screenshot::finish_capture;

constexpr std::string_view KNOWN_VIEW = "search";

// What the capture needs, copied so it outlives the request it came from. The
// "map" handler owns one (freed by GLib when the handler is disconnected at
// window destruction); each timer it starts owns another.
struct CaptureTarget {
    std::string output;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

void delete_target(gpointer data, GClosure* /*closure*/) {
    delete static_cast<CaptureTarget*>(data);
}

void delete_timer_target(gpointer data) {
    delete static_cast<CaptureTarget*>(data);
}

gboolean on_capture_timer(gpointer data) {
    const auto* target = static_cast<const CaptureTarget*>(data);
    // finish_capture ends the process; no exception may leave this callback.
    try {
        finish_capture(capture_output(target->width, target->height, target->output));
    } catch (const std::exception& e) {
        finish_capture(unexpected(CaptureError{e.what()}));
    }
}

void on_map(GtkWidget* /*window*/, gpointer data) {
    const auto* target = static_cast<const CaptureTarget*>(data);
    // The timer keeps its own copy: it does not depend on the window or the
    // handler still existing when it fires.
    g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(CAPTURE_DELAY.count()),
                       on_capture_timer, new CaptureTarget(*target), delete_timer_target);
}

}  // namespace

void check_screenshot_view(GtkWindow* window, const cli::ScreenshotRequest& request) {
    if (request.view != KNOWN_VIEW) {
        util::report("unknown screenshot view '" + request.view +
                     "' (known: " + std::string(KNOWN_VIEW) + ")");
        // Called from the "activate" handler with the window built but not
        // presented; like finish_capture, end without running destructors.
        std::_Exit(1);
    }
    schedule_capture(window, request.output, request.width, request.height);
}

void schedule_capture(GtkWindow* window, const std::string& output, std::uint32_t width,
                      std::uint32_t height) {
    g_return_if_fail(GTK_IS_WINDOW(window));
    g_signal_connect_data(window, "map", G_CALLBACK(on_map),
                          new CaptureTarget{output, width, height}, delete_target, GConnectFlags{});
}

}  // namespace flintsearch::window
