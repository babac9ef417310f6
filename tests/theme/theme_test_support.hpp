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

#include "temp_dir.hpp"

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

using TempDir = flintsearch::test::TempDir;

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
