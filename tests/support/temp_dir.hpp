// A fresh directory under /tmp, removed with everything in it at the end of
// the scope, and reading a whole file back. Used by every test that needs a
// private place on disk.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace flintsearch::test {

class TempDir {
  public:
    // Mode 0777 when `shared`, so that an unprivileged child can work in it.
    explicit TempDir(bool shared = false) {
        std::string name = "/tmp/flint-test.XXXXXX";
        if (::mkdtemp(name.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = name;
        if (shared) {
            ::chmod(name.c_str(), 0777);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        // Modes set by a test must not keep the clean-up out.
        std::error_code ignored;
        for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
            if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
                ::chmod(it->path().c_str(), 0700);
            }
        }
        std::filesystem::remove_all(path_, ignored);
    }

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

    // Writes a file (creating its parent directories) and returns its path.
    std::filesystem::path write(const std::string& relative, const std::string& bytes) const {
        const auto file = path_ / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
        return file;
    }

  private:
    std::filesystem::path path_;
};

// The whole file, or "" when it cannot be read.
inline std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace flintsearch::test
