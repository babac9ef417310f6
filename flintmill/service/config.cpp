#include "flintmill/service/config.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "flint/text.hpp"

namespace flintmill::service {
namespace {

using flintsearch::unexpected;

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

std::string expand_home(std::string_view path, const std::string& home) {
    if (path == "~") {
        return home;
    }
    if (path.starts_with("~/")) {
        return flint::join_path(home, path.substr(2));
    }
    return std::string(path);
}

bool is_dir(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string home_dir() {
    return flint::env_utf8("HOME").value_or("/");
}

std::string xdg_dir(const char* var, const std::string& home, const char* fallback) {
    if (auto v = flint::env_utf8(var); v && !v->empty() && v->starts_with('/')) {
        return *v;
    }
    return flint::join_path(home, fallback);
}

// Drops trailing slashes, so that "a/" and "a" are one root.
std::string normalised(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

}  // namespace

flintsearch::Result<ConfigFile, std::string> parse_config(std::string_view text,
                                                          const std::string& home) {
    ConfigFile out;
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const auto nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        if (const auto hash = line.find('#'); hash != std::string_view::npos) {
            line = line.substr(0, hash);
        }
        line = trim(line);
        if (line.empty()) {
            continue;
        }
        const std::string where = std::to_string(number) + ": ";
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) {
            return unexpected(where + "expected \"name = value\"");
        }
        const std::string_view key = trim(line.substr(0, eq));
        const std::string_view value = trim(line.substr(eq + 1));
        if (value.empty()) {
            return unexpected(where + "\"" + std::string(key) + "\" needs a value");
        }
        if (key == "root") {
            out.roots.push_back(normalised(expand_home(value, home)));
        } else if (key == "skip") {
            out.skip.emplace_back(value);
        } else if (key == "default_roots") {
            if (value != "yes" && value != "no") {
                return unexpected(where + "default_roots is \"yes\" or \"no\"");
            }
            out.default_roots = value == "yes";
        } else if (key == "max_file_size") {
            std::uint64_t n = 0;
            std::size_t i = 0;
            for (; i < value.size() && value[i] >= '0' && value[i] <= '9' && n < (1ull << 50);
                 ++i) {
                n = n * 10 + static_cast<std::uint64_t>(value[i] - '0');
            }
            const std::string_view unit = value.substr(i);
            const int shift = unit.empty()  ? 0
                              : unit == "K" ? 10
                              : unit == "M" ? 20
                              : unit == "G" ? 30
                                            : -1;
            if (i == 0 || shift < 0) {
                return unexpected(where + "max_file_size is a number with K, M or G, e.g. 64M");
            }
            out.max_file_bytes = n << shift;
        } else {
            return unexpected(where + "unknown setting \"" + std::string(key) + "\"");
        }
    }
    return out;
}

std::vector<std::string> default_roots(const std::string& home, const std::string& config_home) {
    std::string documents = flint::join_path(home, "Documents");
    std::string desktop = flint::join_path(home, "Desktop");
    // user-dirs.dirs: XDG_DOCUMENTS_DIR="$HOME/Dokumente", shell quoting
    // limited to what xdg-user-dirs-update writes.
    if (auto text =
            flint::read_text_file(flint::join_path(config_home, "user-dirs.dirs"), 64 * 1024)) {
        std::string_view rest = *text;
        while (!rest.empty()) {
            const auto nl = rest.find('\n');
            const std::string_view line = trim(rest.substr(0, nl));
            rest = nl == std::string_view::npos ? std::string_view{} : rest.substr(nl + 1);
            for (auto [key, target] : {std::pair{"XDG_DOCUMENTS_DIR=\"", &documents},
                                       std::pair{"XDG_DESKTOP_DIR=\"", &desktop}}) {
                if (!line.starts_with(key) || !line.ends_with('"')) {
                    continue;
                }
                std::string_view value = line.substr(std::string_view(key).size());
                value.remove_suffix(1);
                if (value.starts_with("$HOME")) {
                    *target = home + std::string(value.substr(5));
                } else if (value.starts_with('/')) {
                    *target = std::string(value);
                }
            }
        }
    }
    std::vector<std::string> roots;
    for (const std::string& dir : {documents, desktop}) {
        // A user dir set to $HOME itself means "none" to xdg-user-dirs.
        if (normalised(dir) != normalised(home) && is_dir(dir)) {
            roots.push_back(normalised(dir));
        }
    }
    return roots;
}

flintsearch::Result<Config, std::string> load_config(const std::vector<std::string>& extra_roots,
                                                     bool use_default_roots) {
    Config config;
    const std::string home = home_dir();
    const std::string config_home = xdg_dir("XDG_CONFIG_HOME", home, ".config");
    const std::string cache_home = xdg_dir("XDG_CACHE_HOME", home, ".cache");
    config.runtime_dir = flint::env_utf8("XDG_RUNTIME_DIR").value_or("");
    config.socket_path = flint::join_path(config.runtime_dir, "flintmill.sock");
    config.lock_path = flint::join_path(config.runtime_dir, "flintmill.lock");
    config.index_dir = flint::join_path(cache_home, "flintmill");
    config.config_file =
        flint::join_path(flint::join_path(config_home, "flintmill"), "flintmill.conf");

    ConfigFile file;
    struct stat st {};
    if (::stat(config.config_file.c_str(), &st) == 0) {
        auto text = flint::read_text_file(config.config_file, 64 * 1024);
        if (!text) {
            return unexpected(config.config_file + ": cannot be read as UTF-8 text");
        }
        auto parsed = parse_config(*text, home);
        if (!parsed) {
            return unexpected(config.config_file + ":" + parsed.error());
        }
        file = std::move(*parsed);
    }
    std::vector<std::string> roots;
    if (use_default_roots && file.default_roots) {
        roots = default_roots(home, config_home);
    }
    roots.insert(roots.end(), file.roots.begin(), file.roots.end());
    for (const std::string& r : extra_roots) {
        char* real = ::realpath(r.c_str(), nullptr);
        roots.push_back(normalised(real != nullptr ? real : r));
        std::free(real);
    }
    // A root inside another is walked with it.
    std::sort(roots.begin(), roots.end());
    roots.erase(std::unique(roots.begin(), roots.end()), roots.end());
    for (const std::string& r : roots) {
        const bool nested =
            std::any_of(config.rules.roots.begin(), config.rules.roots.end(),
                        [&r](const std::string& o) { return r.starts_with(o + "/"); });
        if (!nested) {
            config.rules.roots.push_back(r);
        }
    }
    config.rules.skip_names = std::move(file.skip);
    config.rules.max_file_bytes = file.max_file_bytes;
    return config;
}

}  // namespace flintmill::service
