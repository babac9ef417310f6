#include "util/spawn.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

extern char** environ;

namespace flintsearch::util {
namespace {

// posix_spawn's two attribute objects, destroyed on every path.
class SpawnAttributes {
  public:
    SpawnAttributes() {
        actions_ok_ = posix_spawn_file_actions_init(&actions_) == 0;
        attr_ok_ = posix_spawnattr_init(&attr_) == 0;
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    ~SpawnAttributes() {
        if (actions_ok_) {
            posix_spawn_file_actions_destroy(&actions_);
        }
        if (attr_ok_) {
            posix_spawnattr_destroy(&attr_);
        }
    }

    bool ok() const { return actions_ok_ && attr_ok_; }
    posix_spawn_file_actions_t* actions() { return &actions_; }
    posix_spawnattr_t* attr() { return &attr_; }

  private:
    posix_spawn_file_actions_t actions_{};
    posix_spawnattr_t attr_{};
    bool actions_ok_ = false;
    bool attr_ok_ = false;
};

// Arranges one standard stream of the child. A pipe's child end is dup2'd
// onto the stream (which clears close-on-exec on the copy); the original,
// like every other descriptor of the launcher, is close-on-exec.
bool arrange(SpawnAttributes& setup, Stream stream, int target, UniqueFd& ours, UniqueFd& theirs) {
    switch (stream) {
        case Stream::Inherit:
            return true;
        case Stream::Null:
            return posix_spawn_file_actions_addopen(setup.actions(), target, "/dev/null",
                                                    target == STDIN_FILENO ? O_RDONLY : O_WRONLY,
                                                    0) == 0;
        case Stream::Pipe: {
            int fds[2];
            if (::pipe2(fds, O_CLOEXEC) != 0) {
                return false;
            }
            // For the child's input the launcher writes; for its output it reads.
            const bool input = target == STDIN_FILENO;
            ours.reset(fds[input ? 1 : 0]);
            theirs.reset(fds[input ? 0 : 1]);
            return posix_spawn_file_actions_adddup2(setup.actions(), theirs.get(), target) == 0;
        }
    }
    return false;
}

std::vector<char*> pointers_to(std::vector<std::string>& strings) {
    std::vector<char*> ptrs;
    ptrs.reserve(strings.size() + 1);
    for (auto& s : strings) {
        ptrs.push_back(s.data());
    }
    ptrs.push_back(nullptr);
    return ptrs;
}

// The inherited environment with the variables the SpawnSpec names replaced.
std::vector<std::string> child_environment(const SpawnSpec& spec) {
    const auto overridden = [&](std::string_view entry) {
        return std::any_of(spec.env.begin(), spec.env.end(), [&](const auto& var) {
            return entry.size() > var.first.size() && entry.starts_with(var.first) &&
                   entry[var.first.size()] == '=';
        });
    };
    std::vector<std::string> env;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        if (!overridden(*e)) {
            env.emplace_back(*e);
        }
    }
    for (const auto& [name, value] : spec.env) {
        env.push_back(name + "=" + value);
    }
    return env;
}

bool has_nul(const std::string& text) {
    return text.find('\0') != std::string::npos;
}

}  // namespace

std::optional<Child> spawn(const SpawnSpec& spec) {
    if (spec.argv.empty() || std::any_of(spec.argv.begin(), spec.argv.end(), has_nul)) {
        return std::nullopt;
    }
    SpawnAttributes setup;
    if (!setup.ok()) {
        return std::nullopt;
    }
    Child child;
    // The child's ends of the pipes; ours must close them once it has
    // started, or a reader never sees the end of the stream.
    UniqueFd child_in;
    UniqueFd child_out;
    UniqueFd child_err;
    if (!arrange(setup, spec.in, STDIN_FILENO, child.in, child_in) ||
        !arrange(setup, spec.out, STDOUT_FILENO, child.out, child_out) ||
        !arrange(setup, spec.err, STDERR_FILENO, child.err, child_err)) {
        return std::nullopt;
    }

    sigset_t defaults;
    sigset_t mask;
    sigfillset(&defaults);
    sigemptyset(&mask);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (spec.own_process_group) {
        flags |= POSIX_SPAWN_SETPGROUP;
        if (posix_spawnattr_setpgroup(setup.attr(), 0) != 0) {
            return std::nullopt;
        }
    }
    if (posix_spawnattr_setsigdefault(setup.attr(), &defaults) != 0 ||
        posix_spawnattr_setsigmask(setup.attr(), &mask) != 0 ||
        posix_spawnattr_setflags(setup.attr(), flags) != 0) {
        return std::nullopt;
    }

    // posix_spawn takes char* const[] but does not modify the strings.
    std::vector<std::string> argv_strings = spec.argv;
    std::vector<char*> argv = pointers_to(argv_strings);
    std::vector<std::string> env_strings;
    std::vector<char*> envp;
    char** env = environ;
    if (!spec.env.empty()) {
        env_strings = child_environment(spec);
        envp = pointers_to(env_strings);
        env = envp.data();
    }
    if (posix_spawnp(&child.pid, argv_strings[0].c_str(), setup.actions(), setup.attr(),
                     argv.data(), env) != 0) {
        return std::nullopt;
    }
    return child;
}

std::optional<int> wait_for(pid_t pid) {
    int status = 0;
    for (;;) {
        if (::waitpid(pid, &status, 0) == pid) {
            return status;
        }
        if (errno != EINTR) {
            return std::nullopt;
        }
    }
}

}  // namespace flintsearch::util
