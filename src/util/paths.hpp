// Where the launcher's files are, from the XDG environment variables.
//
// Each function reads the environment afresh. The program resolves them
// once, into Paths, on the main thread before any other thread starts, and
// passes the result down: nothing on a worker thread reads the environment.
// (The palette's cache directory and the runtime theme file have rules of
// their own, in flint-theme: flint::cache_dir, flint::theme_css_path.)
#pragma once

#include <string>

namespace flintsearch::util {

// XDG_RUNTIME_DIR when set and valid UTF-8 (even empty), else "/tmp".
std::string runtime_dir();

// runtime_dir joined with "flintsearch.pid": the single-instance toggle's
// pid file.
std::string pid_file_path();

// runtime_dir joined with "flintmill.sock": the daemon's socket.
std::string socket_path();

// XDG_CONFIG_HOME when set and valid UTF-8 (even empty), else HOME (or
// "/tmp" when HOME is unset or not UTF-8) joined with ".config"; then joined
// with "flintsearch".
std::string config_dir();

// config_dir joined with "style.css": the user stylesheet.
std::string user_css_path();

// Whether other users can write the directory (as /tmp, or a folder of mode
// 0770 whose group holds another user; flint::others_may_write): a file the
// launcher keeps there must be the user's own, private, and per-user named,
// and no resident listens there.
bool is_shared_directory(const std::string& dir);

// The paths one start of the launcher uses, resolved together.
struct Paths {
    // pid_file_path, except in a runtime directory that other users can
    // write (the /tmp fallback): there the name carries the user id,
    // "flintsearch-1000.pid", so that no one else can take it first, and
    // the file is made private (pid_file_private).
    std::string pid_file;
    bool pid_file_private = false;
    std::string daemon_socket;
    std::string user_css;
    // The resident instance's control socket and the lock it holds while it
    // runs; both empty where the runtime directory is shared with other
    // users, where no resident runs (see resident_main).
    std::string resident_socket;
    std::string resident_lock;
};

Paths resolve_paths();

}  // namespace flintsearch::util
