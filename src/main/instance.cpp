#include "main/instance.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "text.hpp"

extern char** environ;

namespace flintsearch {
namespace {

constexpr std::string_view kProgramName = "flintsearch";

// Runs `kill PID` through a PATH lookup, no shell, and waits for it. The
// child inherits environment, working directory and standard streams, and
// gets the default SIGPIPE disposition back (this process ignores it).
// Whether kill starts or succeeds does not matter to the caller.
void run_kill(std::uint32_t pid) {
    std::string program = "kill";
    std::string argument = std::to_string(pid);
    char* child_argv[] = {program.data(), argument.data(), nullptr};

    posix_spawnattr_t attr;
    if (posix_spawnattr_init(&attr) != 0) {
        return;
    }
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);

    pid_t child = -1;
    const int rc = posix_spawnp(&child, program.c_str(), nullptr, &attr, child_argv, environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        return;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

bool is_launcher_process(std::uint32_t pid) {
    const auto comm = flint::read_text_file("/proc/" + std::to_string(pid) + "/comm");
    return comm && flint::trim_white_space(*comm) == kProgramName;
}

// Reads the pid file only when it is a regular file that the current user
// owns. In a shared fallback directory such as /tmp another local user could
// otherwise name any of our processes, or plant a symlink, and have the
// toggle stop it; such a file counts as stale.
std::optional<std::string> read_own_pid_file(const std::string& path) {
    int fd;
    do {
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat st {};
    const bool own = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == getuid();
    close(fd);
    if (!own) {
        return std::nullopt;
    }
    return flint::read_text_file(path);
}

}  // namespace

std::string runtime_dir() {
    return flint::env_utf8("XDG_RUNTIME_DIR").value_or("/tmp");
}

std::string pid_file_path() {
    return flint::join_path(runtime_dir(), "flintsearch.pid");
}

std::optional<std::uint32_t> parse_pid_text(std::string_view text) {
    text = flint::trim_white_space(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > 0xFFFFFFFFu) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(value);
}

std::optional<std::uint32_t> running_launcher(const std::string& path) {
    const auto text = read_own_pid_file(path);
    if (!text) {
        return std::nullopt;
    }
    const auto pid = parse_pid_text(*text);
    if (!pid || !is_launcher_process(*pid)) {
        return std::nullopt;
    }
    return pid;
}

ToggleOutcome toggle_instance() {
    if (const auto pid = running_launcher(pid_file_path())) {
        // The stopped launcher ends by the signal and leaves its pid file;
        // the next start finds it stale and claims it.
        run_kill(*pid);
        return ToggleOutcome::StoppedAnother;
    }
    claim_pid_file();
    return ToggleOutcome::Claimed;
}

void claim_pid_file() {
    const std::string path = pid_file_path();
    const std::string text = std::to_string(getpid());
    // O_NONBLOCK: a FIFO at the path would otherwise block the open until
    // some reader appeared, and the launcher would never start. Only a
    // regular file is written; anything else counts as unwritable.
    int fd;
    do {
        fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                  0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return;
    }
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    close(fd);
}

void remove_pid_file() {
    unlink(pid_file_path().c_str());
}

}  // namespace flintsearch
