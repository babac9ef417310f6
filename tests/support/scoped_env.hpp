// Sets, unsets or just guards an environment variable for one scope, and
// restores what it was when the scope ends.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace flintsearch::test {

class ScopedEnv {
  public:
    // Only saves the variable: the test may change it freely.
    explicit ScopedEnv(const char* name) : name_(name) {
        if (const char* old = std::getenv(name)) {
            saved_ = old;
        }
    }
    // Saves it, then sets it to value (or unsets it for nullptr).
    ScopedEnv(const char* name, const char* value) : ScopedEnv(name) {
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv() {
        if (saved_) {
            ::setenv(name_.c_str(), saved_->c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }

  private:
    std::string name_;
    std::optional<std::string> saved_;
};

}  // namespace flintsearch::test
