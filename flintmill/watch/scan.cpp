#include "flintmill/watch/scan.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "flint/text.hpp"
#include "flintmill/extract/extractor.hpp"

namespace flintmill::watch {
namespace {

// Folder walks go at most this deep: deeper is a generated tree or a loop
// through a mount.
constexpr int MAX_DEPTH = 64;

bool exists_at(int dir_fd, const char* name) {
    struct stat st {};
    return ::fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

void walk(const std::string& dir, int depth, const ScanRules& rules,
          std::set<std::pair<std::uint64_t, std::uint64_t>>& walked, ScanResult& result) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        ++result.unreadable;
        return;
    }
    struct stat self {};
    if (::fstat(fd, &self) != 0 || !walked.emplace(self.st_dev, self.st_ino).second ||
        skip_folder_contents(fd)) {
        ::close(fd);
        return;
    }
    DIR* d = ::fdopendir(fd);
    if (d == nullptr) {
        ::close(fd);
        ++result.unreadable;
        return;
    }
    result.dirs.push_back(dir);
    std::vector<std::string> subdirs;
    while (const dirent* entry = ::readdir(d)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        struct stat st {};
        // Follows symbolic links: a loop fails here with ELOOP, or is caught
        // by `walked`.
        if (::fstatat(::dirfd(d), entry->d_name, &st, 0) != 0) {
            ++result.unreadable;
            continue;
        }
        const bool is_dir = S_ISDIR(st.st_mode);
        if ((!is_dir && !S_ISREG(st.st_mode)) || skip_name(name, is_dir, rules)) {
            continue;
        }
        if (!flint::is_valid_utf8(name)) {
            ++result.non_utf8;
            continue;
        }
        std::string path = flint::join_path(dir, name);
        if (is_dir) {
            subdirs.push_back(std::move(path));
        } else if (extract::is_supported(path) &&
                   static_cast<std::uint64_t>(st.st_size) <= rules.max_file_bytes) {
            result.files.push_back({std::move(path), stamp_of(st)});
        }
    }
    ::closedir(d);
    if (depth < MAX_DEPTH) {
        for (const std::string& sub : subdirs) {
            walk(sub, depth + 1, rules, walked, result);
        }
    }
}

}  // namespace

bool skip_name(std::string_view name, bool is_dir, const ScanRules& rules) {
    if (name.starts_with('.')) {
        return true;  // hidden, .git among them
    }
    if (std::find(rules.skip_names.begin(), rules.skip_names.end(), name) !=
        rules.skip_names.end()) {
        return true;
    }
    if (!is_dir) {
        return name.ends_with('~');  // editors' backups
    }
    return name == "node_modules" || name == "__pycache__" || name == "build" || name == "_build" ||
           name.starts_with("cmake-build-");
}

bool skip_folder_contents(int dir_fd) {
    return exists_at(dir_fd, IGNORE_MARKER) || exists_at(dir_fd, "CACHEDIR.TAG") ||
           exists_at(dir_fd, "CMakeCache.txt");
}

index::FileStamp stamp_of(const struct stat& st) {
    index::FileStamp s;
    s.inode = static_cast<std::uint64_t>(st.st_ino);
    s.size = static_cast<std::uint64_t>(st.st_size);
    s.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    return s;
}

void scan_tree(const std::string& dir, const ScanRules& rules,
               std::set<std::pair<std::uint64_t, std::uint64_t>>& walked, ScanResult& result) {
    walk(dir, 0, rules, walked, result);
}

ScanResult scan_roots(const ScanRules& rules) {
    ScanResult result;
    std::set<std::pair<std::uint64_t, std::uint64_t>> walked;
    for (const std::string& root : rules.roots) {
        walk(root, 0, rules, walked, result);
    }
    return result;
}

bool wanted_path(const std::string& path, const ScanRules& rules) {
    for (const std::string& root : rules.roots) {
        const std::string base = root.ends_with('/') ? root : root + "/";
        if (!path.starts_with(base)) {
            continue;
        }
        std::string_view rest = std::string_view(path).substr(base.size());
        bool ok = true;
        while (ok && !rest.empty()) {
            const auto slash = rest.find('/');
            const std::string_view part = rest.substr(0, slash);
            ok = !skip_name(part, slash != std::string_view::npos, rules);
            rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash + 1);
        }
        if (ok) {
            return true;
        }
    }
    return false;
}

}  // namespace flintmill::watch
