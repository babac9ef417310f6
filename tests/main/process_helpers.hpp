// Temporary directories and child processes for the start-up tests.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "flint/text.hpp"
#include "temp_dir.hpp"

extern char** environ;

namespace flintsearch::test {

inline void write_file(const std::string& path, const std::string& bytes, mode_t mode = 0644) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    chmod(path.c_str(), mode);
}

inline std::vector<char*> c_strings(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings) {
        out.push_back(s.data());
    }
    out.push_back(nullptr);
    return out;
}

// The environment of this process with some variables replaced ("NAME=value")
// or removed ("NAME").
inline std::vector<std::string> environment_with(const std::vector<std::string>& changes) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool changed = false;
        for (const auto& change : changes) {
            changed = changed || change.substr(0, change.find('=')) == name;
        }
        if (!changed) {
            env.push_back(entry);
        }
    }
    for (const auto& change : changes) {
        if (change.find('=') != std::string::npos) {
            env.push_back(change);
        }
    }
    return env;
}

// A child process that is killed and reaped when the owner goes.
class Child {
  public:
    Child(const std::string& program, std::vector<std::string> argv) {
        auto args = c_strings(argv);
        if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, args.data(), environ) != 0) {
            pid_ = -1;
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            reap();
        }
    }
    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
    void reap() {
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }

  private:
    pid_t pid_ = -1;
};

struct RunResult {
    int status = -1;  // exit status, or -1 when the child did not exit by itself
    std::string out;
    std::string err;
};

// Runs program with the given argument vector (argv[0] included) and
// environment, standard input from /dev/null, and collects both outputs.
inline RunResult run_captured(const std::string& program, std::vector<std::string> argv,
                              std::vector<std::string> env, const TempDir& scratch) {
    const std::string out_path = scratch.file("run.stdout");
    const std::string err_path = scratch.file("run.stderr");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    auto args = c_strings(argv);
    auto envp = c_strings(env);
    pid_t pid = -1;
    RunResult result;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return result;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    }
    result.out = flint::read_file(out_path).value_or("");
    result.err = flint::read_file(err_path).value_or("");
    return result;
}

// A directory with a stand-in `kill` that appends its arguments, one line
// per run, to kill.log, and after them its own ignored-signal mask (using
// shell built-ins only: PATH holds nothing else).
class KillRecorder {
  public:
    KillRecorder() {
        write_file(dir_.file("kill"),
                   "#!/bin/sh\n"
                   "printf '%s\\n' \"$*\" >> '" +
                       log() +
                       "'\n"
                       "while read -r key value; do\n"
                       "  [ \"$key\" = SigIgn: ] && printf 'SigIgn: %s\\n' \"$value\" >> '" +
                       log() +
                       "'\n"
                       "done < /proc/$$/status\n"
                       "exit 0\n",
                   0755);
    }
    std::string bin_dir() const { return dir_.str(); }
    std::string log() const { return dir_.file("kill.log"); }
    // The argument lines of every run so far.
    std::vector<std::string> calls() const {
        std::vector<std::string> out;
        std::ifstream in(log());
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("SigIgn:", 0) != 0) {
                out.push_back(line);
            }
        }
        return out;
    }
    // The ignored-signal mask of the last run.
    std::optional<unsigned long long> last_ignored_mask() const {
        std::optional<unsigned long long> mask;
        std::ifstream in(log());
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("SigIgn:", 0) == 0) {
                mask = std::strtoull(line.c_str() + 7, nullptr, 16);
            }
        }
        return mask;
    }

  private:
    TempDir dir_;
};

// A long-running process whose /proc comm reads "flintsearch": a copy of
// sleep under that name.
class FakeLauncher {
  public:
    FakeLauncher() : program_(copy_sleep()), child_(program_, {"flintsearch", "600"}) {}
    pid_t pid() const { return child_.pid(); }
    bool running() const { return child_.running(); }

  private:
    std::string copy_sleep() {
        const std::string path = dir_.file("flintsearch");
        std::filesystem::copy_file("/bin/sleep", path);
        chmod(path.c_str(), 0755);
        return path;
    }
    TempDir dir_;
    std::string program_;
    Child child_;
};

// A fake launcher (see test::FakeLauncher) that holds the pid file's lock,
// as a running launcher does: the test locks the file, the child inherits
// the locked descriptor, and the test lets go of its own copy.
class LockedLauncher {
  public:
    explicit LockedLauncher(const std::string& pid_file) {
        const int fd = ::open(pid_file.c_str(), O_RDWR | O_CREAT, 0600);
        if (fd >= 0 && ::flock(fd, LOCK_EX) == 0) {
            launcher_.emplace();
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }
    pid_t pid() const { return launcher_ ? launcher_->pid() : -1; }
    bool running() const { return launcher_ && launcher_->running(); }
    void stop() { launcher_.reset(); }

  private:
    std::optional<FakeLauncher> launcher_;
};

}  // namespace flintsearch::test
