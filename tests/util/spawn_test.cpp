#include "util/spawn.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "temp_dir.hpp"

namespace flintsearch::util {
namespace {

namespace fs = std::filesystem;

// How the launcher starts xdg-open: one argument, every stream on the null
// device, not waited for.
std::optional<pid_t> spawn_detached(const std::string& program, const std::string& arg) {
    auto child = spawn(
        {.argv = {program, arg}, .in = Stream::Null, .out = Stream::Null, .err = Stream::Null});
    return child ? std::optional<pid_t>(child->pid) : std::nullopt;
}

// A recording stand-in for xdg-open: it writes its argument count, its one
// argument (exact bytes), the targets of its standard streams and its
// ignored/blocked signal masks to files next to itself. The masks are read
// first, with the shell's builtins only: a shell that waits for a child may
// block signals meanwhile, and that is not the state it was started in.
constexpr const char* STUB = R"(#!/bin/sh
dir=${0%/*}
while read -r key value; do
    case $key in SigIgn:|SigBlk:) printf '%s %s\n' "$key" "$value" ;; esac
done <"/proc/$$/status" >"$dir/signals"
printf '%s' "$#" >"$dir/argc"
printf '%s' "$1" >"$dir/arg"
fds=$(for fd in 0 1 2; do readlink "/proc/$$/fd/$fd"; done)
printf '%s\n' "$fds" >"$dir/fds"
)";

using flintsearch::test::read_file;

class SpawnDetached : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/spawn-test.XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
        const fs::path stub = dir_ / "recorder";
        std::ofstream(stub) << STUB;
        fs::permissions(stub, fs::perms::owner_all);
        if (const char* path = std::getenv("PATH")) {
            saved_path_ = path;
        }
        // The stub's own tool (readlink) stays reachable.
        setenv("PATH", (dir_.string() + ":/usr/bin:/bin").c_str(), 1);
    }

    void TearDown() override {
        if (saved_path_) {
            setenv("PATH", saved_path_->c_str(), 1);
        } else {
            unsetenv("PATH");
        }
        fs::remove_all(dir_);
    }

    // Runs the stub with arg and waits for it (the launcher itself never
    // waits; the test needs the records).
    void run_stub(const std::string& arg) {
        const auto pid = spawn_detached("recorder", arg);
        ASSERT_TRUE(pid.has_value());
        int status = 0;
        ASSERT_EQ(waitpid(*pid, &status, 0), *pid);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_EQ(WEXITSTATUS(status), 0) << read_file(dir_ / "signals");
    }

    fs::path dir_;
    std::optional<std::string> saved_path_;
};

TEST_F(SpawnDetached, PassesExactlyOneArgumentUnchanged) {
    const std::string args[] = {
        "/home/u/docs/report.pdf",
        "",
        "with space and 'quotes' \"double\"",
        "$(touch pwned); `id`; *",
        "-h",
        "--version",
        "line\nbreak",
        "caf\xc3\xa9 \xff",
    };
    for (const auto& arg : args) {
        SCOPED_TRACE(arg);
        run_stub(arg);
        EXPECT_EQ(read_file(dir_ / "argc"), "1");
        EXPECT_EQ(read_file(dir_ / "arg"), arg);
    }
    EXPECT_FALSE(fs::exists("pwned"));
}

TEST_F(SpawnDetached, ConnectsTheStandardStreamsToTheNullDevice) {
    run_stub("x");
    EXPECT_EQ(read_file(dir_ / "fds"), "/dev/null\n/dev/null\n/dev/null\n");
}

TEST_F(SpawnDetached, ChildGetsDefaultSigpipeAndAnEmptySignalMask) {
    // The launcher ignores SIGPIPE and a thread may block signals; neither
    // may reach the child.
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ASSERT_EQ(sigaction(SIGPIPE, &ignore, &previous), 0);
    sigset_t block;
    sigset_t previous_mask;
    sigemptyset(&block);
    sigaddset(&block, SIGUSR1);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &block, &previous_mask), 0);

    run_stub("x");

    pthread_sigmask(SIG_SETMASK, &previous_mask, nullptr);
    sigaction(SIGPIPE, &previous, nullptr);

    const std::string signals = read_file(dir_ / "signals");
    std::istringstream lines(signals);
    std::string line;
    unsigned long long ignored = ~0ull;
    unsigned long long blocked = ~0ull;
    while (std::getline(lines, line)) {
        const auto value = std::stoull(line.substr(line.find(':') + 1), nullptr, 16);
        (line.rfind("SigIgn", 0) == 0 ? ignored : blocked) = value;
    }
    const unsigned long long pipe_bit = 1ull << (SIGPIPE - 1);
    EXPECT_EQ(ignored & pipe_bit, 0u) << signals;
    EXPECT_EQ(blocked, 0u) << signals;
}

TEST_F(SpawnDetached, MissingProgramFailsQuietly) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(spawn_detached("flintsearch-no-such-program", "x").has_value());
    EXPECT_FALSE(spawn_detached("", "x").has_value());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(SpawnDetached, RefusesAnArgumentWithANul) {
    // It would reach the program cut short at the NUL, naming another file.
    EXPECT_FALSE(spawn_detached("recorder", std::string("/tmp/a\0b", 8)).has_value());
    EXPECT_FALSE(fs::exists(dir_ / "arg"));
}

}  // namespace
}  // namespace flintsearch::util
