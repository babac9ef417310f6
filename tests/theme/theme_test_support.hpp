// Fixtures shared by the theme tests: environment overrides that undo
// themselves and a temporary directory that removes itself.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace theme_test {

// Sets or unsets environment variables for one scope and restores the
// previous values (set, empty or unset) when it ends.
class EnvGuard {
  public:
    EnvGuard() = default;
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;
    ~EnvGuard() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second) {
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            } else {
                ::unsetenv(it->first.c_str());
            }
        }
    }

    void set(const std::string& name, const std::string& value) {
        save(name);
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    void unset(const std::string& name) {
        save(name);
        ::unsetenv(name.c_str());
    }

  private:
    void save(const std::string& name) {
        const char* old = ::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A fresh directory under the system temporary directory, removed with
// everything in it at the end of the scope.
class TempDir {
  public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "flint-theme-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) {
            ADD_FAILURE() << "mkdtemp failed";
        }
        path_ = tmpl;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

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

// Changes the working directory for one scope.
class CwdGuard {
  public:
    explicit CwdGuard(const std::filesystem::path& dir) : old_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    CwdGuard(const CwdGuard&) = delete;
    CwdGuard& operator=(const CwdGuard&) = delete;
    ~CwdGuard() {
        std::error_code ec;
        std::filesystem::current_path(old_, ec);
    }

  private:
    std::filesystem::path old_;
};

}  // namespace theme_test
