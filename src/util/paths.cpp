#include "util/paths.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include "flint/text.hpp"
#include "flint/trust.hpp"

namespace flintsearch::util {

std::string runtime_dir() {
    return flint::env_utf8("XDG_RUNTIME_DIR").value_or("/tmp");
}

std::string pid_file_path() {
    return flint::join_path(runtime_dir(), "flintsearch.pid");
}

std::string socket_path() {
    return flint::join_path(runtime_dir(), "flintmill.sock");
}

std::string config_dir() {
    std::string base;
    if (auto config_home = flint::env_utf8("XDG_CONFIG_HOME")) {
        base = std::move(*config_home);
    } else {
        base = flint::join_path(flint::env_utf8("HOME").value_or("/tmp"), ".config");
    }
    return flint::join_path(base, "flintsearch");
}

std::string user_css_path() {
    return flint::join_path(config_dir(), "style.css");
}

bool is_shared_directory(const std::string& dir) {
    struct stat st {};
    return ::stat(dir.empty() ? "." : dir.c_str(), &st) == 0 && flint::others_may_write(st);
}

Paths resolve_paths() {
    const std::string runtime = runtime_dir();
    Paths paths;
    paths.pid_file_private = is_shared_directory(runtime);
    paths.pid_file =
        paths.pid_file_private
            ? flint::join_path(runtime, "flintsearch-" + std::to_string(::getuid()) + ".pid")
            : pid_file_path();
    paths.daemon_socket = socket_path();
    paths.user_css = user_css_path();
    if (!paths.pid_file_private) {
        paths.resident_socket = flint::join_path(runtime, "flintsearch-resident.sock");
        paths.resident_lock = flint::join_path(runtime, "flintsearch-resident.lock");
    }
    return paths;
}

}  // namespace flintsearch::util
