// Runs tests/standin/flintmill_standin.py on a socket in a temporary
// directory of its own, for tests that talk to a daemon through real
// sockets.
//
// Link the `standin_fixture` CMake target: it supplies FLINTSEARCH_PYTHON
// and FLINTSEARCH_STANDIN (the interpreter and the script). The environment
// variable of the same name, which the end-to-end scripts get too, overrides
// the script: a test program that runs as another user than the checkout's
// owner points it at a copy that user can read.
//
//     StandinDaemon daemon(StandinDaemon::script({R"({"reply":"{\"type\":\"ok\"}"})"}));
//     ASSERT_TRUE(daemon.running()) << daemon.failure();
//     ... connect to daemon.socket_path() ...
//     EXPECT_EQ(daemon.log(), "...request line...\n");
//
// The object owns the child process and the directory: its destructor
// stops the daemon (SIGTERM, then SIGKILL after 5 s) and removes the
// directory. Use it from one thread. It opens no descriptor that outlives
// the constructor, so descriptor counts taken after construction stay
// meaningful.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace flintsearch::testing {

class StandinDaemon {
  public:
    // What the daemon answers from: a script (one JSON action per line) or
    // a corpus directory.
    struct Source {
        std::vector<std::string> script_lines;
        std::string corpus_dir;
    };

    static Source script(std::vector<std::string> lines) { return Source{std::move(lines), {}}; }
    static Source corpus(std::string dir) { return Source{{}, std::move(dir)}; }

    explicit StandinDaemon(const Source& source) {
        char pattern[] = "/tmp/flintmill-standin-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            failure_ = "mkdtemp failed";
            return;
        }
        dir_ = pattern;
        socket_path_ = dir_ + "/flintmill.sock";
        log_path_ = dir_ + "/requests.log";
        const std::string ready = dir_ + "/ready";

        const char* copy = std::getenv("FLINTSEARCH_STANDIN");
        std::vector<std::string> args = {FLINTSEARCH_PYTHON,
                                         copy != nullptr ? copy : FLINTSEARCH_STANDIN,
                                         "--socket",
                                         socket_path_,
                                         "--log",
                                         log_path_,
                                         "--ready-file",
                                         ready};
        if (!source.corpus_dir.empty()) {
            args.insert(args.end(), {"--corpus", source.corpus_dir});
        } else if (!source.script_lines.empty()) {
            const std::string script_path = dir_ + "/script.jsonl";
            std::ofstream out(script_path, std::ios::binary);
            for (const auto& line : source.script_lines) {
                out << line << '\n';
            }
            args.insert(args.end(), {"--script", script_path});
        }
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
            failure_ = "cannot start " + args[0];
            return;
        }
        // Python takes a moment to start; the ready file says it listens.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            if (std::filesystem::exists(ready)) {
                return;
            }
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                failure_ = "the stand-in daemon exited before it was ready";
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        failure_ = "the stand-in daemon did not get ready within 20 s";
    }

    StandinDaemon(const StandinDaemon&) = delete;
    StandinDaemon& operator=(const StandinDaemon&) = delete;

    ~StandinDaemon() {
        stop();
        if (!dir_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(dir_, ignored);
        }
    }

    bool running() const { return pid_ > 0 && failure_.empty(); }
    const std::string& failure() const { return failure_; }
    const std::string& socket_path() const { return socket_path_; }
    const std::string& dir() const { return dir_; }

    // Every byte the daemon has received so far, in arrival order.
    std::string log() const {
        std::ifstream in(log_path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Stops the daemon and waits for it; idempotent.
    void stop() {
        if (pid_ <= 0) {
            return;
        }
        ::kill(pid_, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
    std::string dir_;
    std::string socket_path_;
    std::string log_path_;
    std::string failure_;
};

}  // namespace flintsearch::testing
