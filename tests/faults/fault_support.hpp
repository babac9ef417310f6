// Helpers for the fault tests: a temporary directory, and a forked child
// that runs one piece of the launcher's code, optionally as an unprivileged
// user, under a deadline.
//
// The suite often runs as root, and root reads and searches any directory
// whatever its mode. A child that drops to "nobody" first makes "this
// directory cannot be searched" true for the code under test; as any other
// user the child simply keeps its identity. The deadline turns a hang into
// a failed test instead of a stuck run.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "temp_dir.hpp"

namespace flintsearch::fault_test {

using TempDir = test::TempDir;

// Drops every privilege for good: to "nobody" when running as root.
// Returns false when that fails (the child must then not go on).
inline bool drop_to_nobody() {
    if (::geteuid() != 0) {
        return true;
    }
    const passwd* nobody = ::getpwnam("nobody");
    const uid_t uid = nobody != nullptr ? nobody->pw_uid : 65534;
    const gid_t gid = nobody != nullptr ? nobody->pw_gid : 65534;
    return ::setgroups(0, nullptr) == 0 && ::setresgid(gid, gid, gid) == 0 &&
           ::setresuid(uid, uid, uid) == 0 && ::geteuid() == uid;
}

struct ChildResult {
    bool finished = false;  // exited by itself before the deadline
    int exit_status = -1;   // its exit status when it exited normally
    std::string output;     // what body returned
};

// Runs body in a forked child (as "nobody" when `unprivileged` and root) and
// returns what it returned. A child still running at the deadline is killed
// and reported as not finished. Call it from a single-threaded test.
inline ChildResult run_in_child(const std::function<std::string()>& body, bool unprivileged,
                                std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        ::close(pipe_fds[0]);
        if (unprivileged && !drop_to_nobody()) {
            ::_exit(97);
        }
        std::string out;
        try {
            out = body();
        } catch (...) {
            ::_exit(98);
        }
        for (std::size_t done = 0; done < out.size();) {
            const ssize_t n = ::write(pipe_fds[1], out.data() + done, out.size() - done);
            if (n <= 0) {
                ::_exit(99);
            }
            done += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(pipe_fds[1]);
    ChildResult result;
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd pfd{pipe_fds[0], POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char buf[4096];
        const ssize_t n = ::read(pipe_fds[0], buf, sizeof buf);
        if (n <= 0) {
            result.finished = true;  // the child closed its end: it has exited
            break;
        }
        result.output.append(buf, static_cast<std::size_t>(n));
    }
    ::close(pipe_fds[0]);
    if (!result.finished) {
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (result.finished && WIFEXITED(status)) {
        result.exit_status = WEXITSTATUS(status);
    } else {
        result.finished = false;
    }
    return result;
}

}  // namespace flintsearch::fault_test
