#include "util/paths.hpp"

#include "text.hpp"

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

Paths resolve_paths() {
    return Paths{pid_file_path(), socket_path(), user_css_path()};
}

}  // namespace flintsearch::util
