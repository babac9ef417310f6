#include <sys/stat.h>

#include <filesystem>
#include <string_view>
#include <utility>
#include <vector>

#include "flint/gtk/theme.hpp"
#include "flint/report.hpp"
#include "flint/trust.hpp"

namespace flint {
namespace {

// A path as its components: "/" first for an absolute path, no empty
// components, and "." only where it leads a relative path ("./a" and "a"
// name different places to a caller that joins them onto something).
std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> out;
    if (path.starts_with('/')) {
        out.emplace_back("/");
    }
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        const std::string_view part = path.substr(pos, end - pos);
        const bool leading_dot = part == "." && out.empty() && pos == 0;
        if (!part.empty() && (part != "." || leading_dot)) {
            out.push_back(part);
        }
        pos = end + 1;
    }
    return out;
}

// What one "changed" handler owns: the theme file's path and the action.
// Deleted by GObject when the handler is disconnected (at the latest when
// the monitor is finalised).
struct WatchData {
    std::string theme_path;
    ReloadAction action;
};

void free_watch_data(gpointer data, GClosure*) {
    delete static_cast<WatchData*>(data);
}

std::string local_path(GFile* file) {
    if (file == nullptr) {
        return {};
    }
    const GCharPtr path(g_file_get_path(file));
    return path ? std::string(path.get()) : std::string();
}

// "changed" handler, for every event type: a write emits CHANGED and then
// CHANGES_DONE_HINT, a rename onto the file names it as the other file, and
// a delete or a move into the directory name it as the first file.
void on_changed(GFileMonitor*, GFile* file, GFile* other, GFileMonitorEvent, gpointer user_data) {
    auto* data = static_cast<WatchData*>(user_data);
    const GCharPtr file_path(file != nullptr ? g_file_get_path(file) : nullptr);
    const GCharPtr other_path(other != nullptr ? g_file_get_path(other) : nullptr);
    if (!event_concerns(file_path.get(), other_path.get(), data->theme_path)) {
        return;
    }
    // No exception may unwind into GLib; a failed reload keeps what the
    // provider held before.
    try {
        if (data->action) {
            data->action();
        }
    } catch (...) {
    }
}

// Creates dir with every missing parent. Below a directory that other users
// can write (/tmp), what is created is the user's alone: 0700 whatever the
// umask, so no one else can plant a theme file in it. Elsewhere the mode is
// 0777 before the umask. A failure is not reported: it shows up as a
// monitor error, or as a monitor on a directory that appears later.
void create_theme_dir(const std::filesystem::path& dir) {
    std::vector<std::filesystem::path> missing;
    std::filesystem::path at = dir;
    std::error_code error;
    while (!at.empty() && !std::filesystem::exists(at, error)) {
        missing.push_back(at);
        if (at == at.parent_path()) {
            break;
        }
        at = at.parent_path();
    }
    struct stat st {};
    const bool shared =
        (at.empty() ? ::stat(".", &st) : ::stat(at.c_str(), &st)) == 0 && others_may_write(st);
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (::mkdir(it->c_str(), shared ? 0700 : 0777) == 0 && shared) {
            ::chmod(it->c_str(), 0700);
        }
    }
}

}  // namespace

bool event_concerns(const char* file_path, const char* other_path, const std::string& theme_path) {
    const auto theme = components(theme_path);
    const auto same = [&](const char* path) {
        return path != nullptr && components(path) == theme;
    };
    return same(file_path) || same(other_path);
}

Ref<GFileMonitor> watch_theme_file(ReloadAction action) {
    const std::string path = theme_css_path();
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (parent.empty()) {
        return nullptr;
    }
    create_theme_dir(parent);
    // A directory someone else could write is not watched: its theme file is
    // refused anyway, and its changes are not the user's.
    if (auto why = path_untrusted_because(parent.string())) {
        report_once("not watching " + parent.string() + ": " + *why);
        return nullptr;
    }

    const auto dir = adopt(g_file_new_for_path(parent.c_str()));
    ErrorPtr error;
    auto monitor = adopt(
        g_file_monitor_directory(dir.get(), G_FILE_MONITOR_WATCH_MOVES, nullptr, error.out()));
    if (error || monitor == nullptr) {
        return nullptr;
    }

    // GIO reports absolute, canonical paths, even when the theme path is
    // relative (XDG_CACHE_HOME=""), so compare against GIO's own form of the
    // theme path, resolved now against the current directory as the
    // monitored directory was.
    const auto file = adopt(g_file_new_for_path(path.c_str()));
    std::string watched = local_path(file.get());
    if (watched.empty()) {
        watched = path;
    }
    g_signal_connect_data(monitor.get(), "changed", G_CALLBACK(on_changed),
                          new WatchData{std::move(watched), std::move(action)}, free_watch_data,
                          GConnectFlags{});
    return monitor;
}

}  // namespace flint
