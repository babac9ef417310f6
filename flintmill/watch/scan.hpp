// What the daemon reads: the walk over the user's folders and the rules
// that leave things out.
//
// Skipped: hidden files and folders (".git" among them), node_modules,
// __pycache__, build output (folders named build, _build or
// cmake-build-*, and any folder holding CMakeCache.txt or a CACHEDIR.TAG),
// folders holding the opt-out marker ".flintmill-ignore", files over the
// size bound, files whose path is not valid UTF-8 (counted), and what cannot
// be read. Symbolic links to folders are followed once: a folder already
// walked (by device and inode) is not walked again, so loops end.
//
// Pure walking over the file system; no state of its own. Used by the
// indexing thread only.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "flintmill/index/index.hpp"

namespace flintmill::watch {

inline constexpr const char* IGNORE_MARKER = ".flintmill-ignore";

struct ScanRules {
    std::vector<std::string> roots;
    std::uint64_t max_file_bytes = 64ull << 20;
    std::vector<std::string> skip_names;  // more folder or file names to skip
};

struct FoundFile {
    std::string path;
    index::FileStamp stamp;
};

struct ScanResult {
    std::vector<FoundFile> files;
    std::vector<std::string> dirs;  // every folder walked (to watch)
    std::uint64_t non_utf8 = 0;     // paths skipped for not being UTF-8
    std::uint64_t unreadable = 0;   // folders or files that could not be read
};

// Whether a folder or file of this name is never looked at.
bool skip_name(std::string_view name, bool is_dir, const ScanRules& rules);

// Whether the folder at path (already open as dir_fd) opts out or is build
// output, by the files it holds.
bool skip_folder_contents(int dir_fd);

// The stamp of a stat result.
index::FileStamp stamp_of(const struct stat& st);

// Walks each root (or one folder, for a folder that appeared later) into
// result. `walked` holds (device, inode) of the folders walked so far.
void scan_tree(const std::string& dir, const ScanRules& rules,
               std::set<std::pair<std::uint64_t, std::uint64_t>>& walked, ScanResult& result);

ScanResult scan_roots(const ScanRules& rules);

// Whether path lies under one of the roots and no part of it below the
// root is skipped by name.
bool wanted_path(const std::string& path, const ScanRules& rules);

}  // namespace flintmill::watch
