// flintsearch-resident: keeps the launcher loaded, its window built but not
// shown, so that `flintsearch` only has to ask it to show or hide the window
// (util/handover.hpp) instead of starting GTK afresh. Started once per
// session (the compositor's autostart or a systemd user unit); with no
// resident running, `flintsearch` starts the ordinary way.
//
//   flintsearch-resident          runs until the session ends
//   flintsearch-resident --help   prints this usage
//
// Ends with status 0 when the compositor goes away or on SIGTERM, SIGINT or
// SIGHUP, removing its socket; 1 when another resident runs, when it cannot
// listen, or where the runtime directory is shared with other users (the
// /tmp fallback); 2 for an unknown argument.
#include <gdk/wayland/gdkwayland.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <poll.h>
#include <unistd.h>
#include <wayland-client.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "client/pending_search.hpp"
#include "flint/gtk/ref.hpp"
#include "flint/report.hpp"
#include "flint/text.hpp"
#include "util/handover.hpp"
#include "util/paths.hpp"
#include "util/pid_file.hpp"
#include "util/program.hpp"
#include "window/launcher_window.hpp"
#include "window/resident_server.hpp"
#include "window/signal.hpp"

namespace {

using namespace flintsearch;

constexpr const char* kApplicationId = "io.github.flintsearch.flintsearch";
constexpr const char* kUsage = "Usage: flintsearch-resident\n";

struct Resident {
    util::Paths paths;
    std::unique_ptr<window::ResidentServer> server;
};

gboolean on_quit_signal(gpointer app) {
    g_application_quit(G_APPLICATION(app));
    return G_SOURCE_CONTINUE;
}

// GTK ends the process with status 1 the moment it loses the compositor.
// The resident ends cleanly instead (its socket removed, status 0) by two
// ways, whichever comes first: a watch on the display's connection (it runs
// first where GLib dispatches it before GDK's own source, as with GTK 4.8),
// and GDK's last message before it ends the process, when the connection is
// then found hung up (with GTK 4.18 the watch does not get there first).
const std::string* g_resident_socket = nullptr;
int g_display_fd = -1;

[[noreturn]] void end_with_the_compositor() {
    if (g_resident_socket != nullptr) {
        ::unlink(g_resident_socket->c_str());
    }
    std::fflush(nullptr);
    std::_Exit(0);
}

gboolean on_compositor_gone(gint /*fd*/, GIOCondition /*condition*/, gpointer /*data*/) {
    end_with_the_compositor();
}

bool compositor_hung_up() {
    if (g_display_fd < 0) {
        return false;
    }
    pollfd p{g_display_fd, 0, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR)) != 0;
}

GLogWriterOutput write_log(GLogLevelFlags level, const GLogField* fields, gsize count,
                           gpointer data) {
    if (compositor_hung_up()) {
        end_with_the_compositor();
    }
    return g_log_writer_default(level, fields, count, data);
}

void watch_compositor(GdkDisplay* display, const std::string* socket) {
    if (!GDK_IS_WAYLAND_DISPLAY(display)) {
        return;
    }
    g_resident_socket = socket;
    g_display_fd = wl_display_get_fd(gdk_wayland_display_get_wl_display(display));
    g_unix_fd_add_full(G_MININT, g_display_fd, static_cast<GIOCondition>(G_IO_HUP | G_IO_ERR),
                       on_compositor_gone, nullptr, nullptr);
}

void activate(GtkApplication* app, Resident& resident, util::UniqueFd& listener) {
    if (resident.server) {
        return;  // built once; "activate" has nothing more to do
    }
    window::LauncherState state;
    state.slot = std::make_shared<client::PendingSearchSlot>();
    state.slot->socket_path = resident.paths.daemon_socket;
    state.user_css = resident.paths.user_css;
    state.resident = true;
    window::build_launcher_window(app, state);
    GtkWindow* win = window::find_launcher_window(app);
    if (win == nullptr) {
        g_application_quit(G_APPLICATION(app));
        return;
    }
    watch_compositor(gtk_widget_get_display(GTK_WIDGET(win)), &resident.paths.resident_socket);
    resident.server = std::make_unique<window::ResidentServer>(
        std::move(listener),
        [win, user_css = resident.paths.user_css] { window::toggle_launcher(win, user_css); });
    // The application stays up with its window hidden.
    g_application_hold(G_APPLICATION(app));
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    if (argc > 1) {
        const std::string arg = argv[1];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        std::fprintf(stderr, "error: unexpected argument '%s' found\n\n%s", argv[1], kUsage);
        return 2;
    }

    Resident resident{util::resolve_paths(), nullptr};
    if (resident.paths.resident_socket.empty()) {
        util::report("no resident where other users can write the runtime directory (" +
                     util::runtime_dir() + "); set XDG_RUNTIME_DIR to the session's own");
        return 1;
    }
    // One resident per user: it holds this lock for as long as it runs.
    std::optional<util::PidFile> lock = util::PidFile::open(resident.paths.resident_lock, true);
    if (!lock || !lock->try_lock()) {
        util::report(lock ? "a resident instance is already running"
                          : "cannot use " + resident.paths.resident_lock);
        return 1;
    }
    lock->write_own_pid();
    std::optional<util::UniqueFd> listener = util::listen_at(resident.paths.resident_socket);
    if (!listener) {
        util::report("cannot listen on " + resident.paths.resident_socket + ": " +
                     flint::os_error_text(errno));
        return 1;
    }

    flint::set_reporter([](std::string_view message) { util::report(message); });
    g_log_set_writer_func(write_log, nullptr, nullptr);
    auto app = flint::adopt(gtk_application_new(kApplicationId, G_APPLICATION_NON_UNIQUE));
    window::connect<void(GtkApplication*)>(
        app.get(), "activate",
        [&resident, &listener](GtkApplication* a) { activate(a, resident, *listener); });
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        g_unix_signal_add(signal, on_quit_signal, app.get());
    }
    char* no_arguments[] = {nullptr};
    g_application_run(G_APPLICATION(app.get()), 0, no_arguments);
    resident.server.reset();
    ::unlink(resident.paths.resident_socket.c_str());
    return 0;
}
