#include "window/spawn.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace flintsearch::window {
namespace {

// posix_spawn's two attribute objects, destroyed on every path.
class SpawnSetup {
  public:
    SpawnSetup() {
        actions_ok_ = posix_spawn_file_actions_init(&actions_) == 0;
        attr_ok_ = posix_spawnattr_init(&attr_) == 0;
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
    ~SpawnSetup() {
        if (actions_ok_) {
            posix_spawn_file_actions_destroy(&actions_);
        }
        if (attr_ok_) {
            posix_spawnattr_destroy(&attr_);
        }
    }

    bool configure() {
        if (!actions_ok_ || !attr_ok_) {
            return false;
        }
        if (posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0) !=
                0 ||
            posix_spawn_file_actions_addopen(&actions_, STDOUT_FILENO, "/dev/null", O_WRONLY, 0) !=
                0 ||
            posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO, "/dev/null", O_WRONLY, 0) !=
                0) {
            return false;
        }
        // The launcher ignores SIGPIPE; the child gets the default back, and
        // none of the launcher's blocked signals.
        sigset_t defaults;
        sigset_t mask;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        sigemptyset(&mask);
        return posix_spawnattr_setsigdefault(&attr_, &defaults) == 0 &&
               posix_spawnattr_setsigmask(&attr_, &mask) == 0 &&
               posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK) ==
                   0;
    }

    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    const posix_spawnattr_t* attr() const { return &attr_; }

  private:
    posix_spawn_file_actions_t actions_{};
    posix_spawnattr_t attr_{};
    bool actions_ok_ = false;
    bool attr_ok_ = false;
};

}  // namespace

std::optional<pid_t> spawn_detached(const std::string& program, const std::string& arg) {
    // An argument vector element ends at its first NUL: a path holding one
    // would reach the program cut short, naming some other file.
    if (program.find('\0') != std::string::npos || arg.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    SpawnSetup setup;
    if (!setup.configure()) {
        return std::nullopt;
    }
    // posix_spawn takes char* const[] but does not modify the strings.
    std::string program_copy = program;
    std::string arg_copy = arg;
    char* argv[] = {program_copy.data(), arg_copy.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, program.c_str(), setup.actions(), setup.attr(), argv, environ) != 0) {
        return std::nullopt;
    }
    return pid;
}

}  // namespace flintsearch::window
