// The daemon's settings: where it listens, where its index lives, and which
// folders it reads, from the environment, the user's config file and the
// command line.
//
// The config file, $XDG_CONFIG_HOME/flintmill/flintmill.conf (default
// ~/.config/flintmill/flintmill.conf), is optional; one setting a line,
// "#" starts a comment:
//   root = ~/Notes              a folder to read, besides the defaults
//   skip = drafts               a folder or file name never read
//   default_roots = no          leave out Documents and Desktop
//   max_file_size = 64M         files larger than this are not read (K, M, G)
//
// Pure: the functions read the environment and files they are given; no
// state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "flintmill/watch/scan.hpp"
#include "util/result.hpp"

namespace flintmill::service {

struct Config {
    std::string runtime_dir;
    std::string socket_path;
    std::string lock_path;
    std::string index_dir;
    std::string config_file;
    watch::ScanRules rules;
};

// What the config file says; fields left at their defaults when unsaid.
struct ConfigFile {
    std::vector<std::string> roots;
    std::vector<std::string> skip;
    bool default_roots = true;
    std::uint64_t max_file_bytes = 64ull << 20;
};

// Parses the config file's text; home expands a leading "~". A line it does
// not understand fails with "LINE: what is wrong".
flintsearch::Result<ConfigFile, std::string> parse_config(std::string_view text,
                                                          const std::string& home);

// The user's Documents and Desktop folders: from user-dirs.dirs in the
// config directory (as xdg-user-dir reads them), else ~/Documents and
// ~/Desktop. Only folders that exist.
std::vector<std::string> default_roots(const std::string& home, const std::string& config_home);

// The settings from the environment and the config file; extra_roots (the
// command line) are added. An unreadable or malformed config file fails.
flintsearch::Result<Config, std::string> load_config(const std::vector<std::string>& extra_roots,
                                                     bool use_default_roots);

}  // namespace flintmill::service
