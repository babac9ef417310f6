// The socket client and the pid file against faults from outside: a daemon
// that dies mid-reply or resets the connection, a socket path that is no
// socket, and a runtime directory that is missing, a file, or cannot be
// searched. Each ends in a readable ClientError (shown behind
// "flintmill not running: ") or a silent fallback, never in a hang.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "client/socket_client.hpp"
#include "fault_support.hpp"
#include "main/instance.hpp"
#include "scoped_env.hpp"
#include "standin_fixture.hpp"
#include "util/paths.hpp"
#include "util/unique_fd.hpp"

namespace flintsearch::client {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using fault_test::run_in_child;
using fault_test::TempDir;
using flintsearch::test::ScopedEnv;
using flintsearch::testing::StandinDaemon;

// Bounds short enough that a client stuck on a dead peer would show up as
// the time-out text instead of the fault's own.
const ExchangeLimits LIMITS{5s, MAX_REPLY_BYTES};

// A reply whose one hit has a title with a two-byte character (raw UTF-8,
// as the daemon writes it), so that a cut can fall inside it.
const std::string REPLY =
    "{\"type\":\"hits\",\"hits\":[{\"title\":\"Caf\xC3\xA9 menu\",\"path\":\"/d/menu.txt\","
    "\"snippet\":\"s\",\"score\":0.5}]}";

int open_fds() {
    int n = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++n;
    }
    return n;
}

std::string text_of(const Result<Response, ClientError>& got) {
    return got ? std::string("(a response)") : got.error().text;
}

std::string action_json(const std::string& reply, const std::string& extra) {
    std::string quoted;
    for (const char c : reply) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return R"({"reply":")" + quoted + "\"," + extra + "}";
}

TEST(DaemonKilledMidReply, EachCutEndsInItsClientErrorAndTheNextSearchIsRefused) {
    const std::string& bytes = REPLY;
    const std::size_t in_e_acute = bytes.find("\xC3\xA9") + 1;
    struct Row {
        const char* name;
        std::size_t cut;     // bytes written before the daemon is killed
        const char* expect;  // exact text, or nullptr for any decoder text
        bool decodes;        // the cut left a whole JSON value
    };
    const Row rows[] = {
        {"before the first byte", 0, nullptr, false},
        {"inside the type member", 5, nullptr, false},
        {"inside a two-byte character", in_e_acute, "stream did not contain valid UTF-8", false},
        {"inside the hits array", bytes.size() - 3, nullptr, false},
        {"after the value, before the line feed", bytes.size(), nullptr, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        StandinDaemon daemon(StandinDaemon::script(
            {action_json(REPLY, "\"die_after_bytes\":" + std::to_string(row.cut))}));
        ASSERT_TRUE(daemon.running()) << daemon.failure();
        const int before = open_fds();

        const auto got = send_request_to(daemon.socket_path(), Query{"menu", 10}, LIMITS);
        if (row.decodes) {
            ASSERT_TRUE(got.has_value()) << got.error().text;
            EXPECT_EQ(std::get<Hits>(*got).hits.at(0).title, "Caf\xC3\xA9 menu");
        } else {
            ASSERT_FALSE(got.has_value());
            EXPECT_FALSE(got.error().text.empty());
            EXPECT_EQ(got.error().text.find("did not answer"), std::string::npos)
                << "a dead daemon must not look like a slow one: " << got.error().text;
            if (row.expect != nullptr) {
                EXPECT_EQ(got.error().text, row.expect);
            }
        }
        EXPECT_EQ(open_fds(), before);
        // Once the dead daemon is reaped, its socket file stays behind with
        // no listener. (Before that, a connect may still land in the backlog
        // of the dying listener and be reset instead.)
        daemon.stop();
        EXPECT_EQ(text_of(send_request_to(daemon.socket_path(), Query{"menu", 10}, LIMITS)),
                  "Connection refused (os error 111)");
    }
}

TEST(ConnectionReset, ReadsWhatCameBeforeTheResetAndReportsTheReset) {
    struct Row {
        const char* name;
        std::string action;
        const char* expect;  // nullptr: the reply decodes to Ok
    };
    const Row rows[] = {
        {"closed with the request unread", R"({"reset":true})",
         "Connection reset by peer (os error 104)"},
        {"part of a reply, then the reset",
         R"({"reset":true,"reply":"{\"type\":\"hits\",\"hi","no_newline":true})",
         "Connection reset by peer (os error 104)"},
        {"a whole line, then the reset", R"({"reset":true,"reply":"{\"type\":\"ok\"}"})", nullptr},
    };
    std::vector<std::string> script;
    for (const auto& row : rows) {
        script.push_back(row.action);
    }
    script.push_back(R"({"reply":"{\"type\":\"ok\"}"})");
    StandinDaemon daemon(StandinDaemon::script(script));
    ASSERT_TRUE(daemon.running()) << daemon.failure();
    const int before = open_fds();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto got = send_request_to(daemon.socket_path(), Query{"cat", 10}, LIMITS);
        if (row.expect == nullptr) {
            ASSERT_TRUE(got.has_value()) << got.error().text;
            EXPECT_TRUE(std::holds_alternative<Ok>(*got));
        } else {
            EXPECT_EQ(text_of(got), row.expect);
        }
        EXPECT_EQ(open_fds(), before);
    }
    // The daemon survives its resets and answers the next exchange.
    const auto next = send_request_to(daemon.socket_path(), Query{"cat", 10}, LIMITS);
    EXPECT_TRUE(next.has_value()) << text_of(next);
}

TEST(SocketPathFaults, ANonSocketAtThePathIsRefusedLikeAStaleSocket) {
    TempDir dir;
    const fs::path file = dir.path() / "file";
    std::ofstream(file) << "not a directory";
    // A runtime directory of its own for each row, holding what the row
    // plants at flintmill.sock.
    const auto runtime_with = [&](const char* name,
                                  const std::function<void(const fs::path&)>& plant) {
        const fs::path runtime = dir.path() / name;
        fs::create_directory(runtime);
        plant(runtime / "flintmill.sock");
        return runtime.string();
    };
    struct Row {
        const char* name;
        std::string runtime_dir;
        const char* expect;
    };
    const Row rows[] = {
        {"a regular file", runtime_with("r1", [](const fs::path& p) { std::ofstream(p) << "x"; }),
         "Connection refused (os error 111)"},
        {"a directory", runtime_with("r2", [](const fs::path& p) { fs::create_directory(p); }),
         "Connection refused (os error 111)"},
        {"a FIFO", runtime_with("r3", [](const fs::path& p) { ::mkfifo(p.c_str(), 0600); }),
         "Connection refused (os error 111)"},
        {"runtime directory missing", (dir.path() / "gone").string(),
         "No such file or directory (os error 2)"},
        {"runtime directory is a file", file.string(), "Not a directory (os error 20)"},
    };
    ScopedEnv env("XDG_RUNTIME_DIR");
    const int before = open_fds();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ::setenv("XDG_RUNTIME_DIR", row.runtime_dir.c_str(), 1);
        EXPECT_EQ(text_of(send_request(Query{"cat", 10})), row.expect);
        // The pid file is claimed where it can be and silently skipped where
        // it cannot; the start goes on either way.
        EXPECT_EQ(toggle_instance(util::pid_file_path()).outcome, ToggleOutcome::Claimed);
    }
    EXPECT_EQ(open_fds(), before);
    EXPECT_FALSE(fs::exists(dir.path() / "gone")) << "nothing creates a missing runtime directory";
}

// The runtime directory with a mode that keeps its owner out. The child
// runs as "nobody" (when the suite runs as root), owns the directory, and
// reports: the socket error, whether the toggle claimed, whether the pid
// file got written.
TEST(RuntimeDirFaults, ModesThatKeepTheUserOutGiveTheSystemErrorAndAStartAnyway) {
    struct Row {
        const char* name;
        mode_t mode;
        const char* socket_error;
        bool pid_written;
    };
    const Row rows[] = {
        {"no permissions at all", 0000, "Permission denied (os error 13)", false},
        {"readable, not searchable", 0600, "Permission denied (os error 13)", false},
        {"searchable, not writable", 0500, "No such file or directory (os error 2)", false},
        {"searchable and writable, not readable", 0300, "No such file or directory (os error 2)",
         true},
    };
    TempDir shared(true);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string runtime = (shared.path() / ("run-" + std::to_string(row.mode))).string();
        const auto result = run_in_child(
            [&] {
                if (::mkdir(runtime.c_str(), 0700) != 0 ||
                    ::chmod(runtime.c_str(), row.mode) != 0) {
                    return std::string("setup failed");
                }
                ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
                const auto got = send_request(Query{"cat", 10});
                const bool claimed =
                    toggle_instance(util::pid_file_path()).outcome == ToggleOutcome::Claimed;
                ::chmod(runtime.c_str(), 0700);
                const bool written = fs::exists(fs::path(runtime) / "flintsearch.pid");
                return text_of(got) + "|" + (claimed ? "claimed" : "stopped") + "|" +
                       (written ? "written" : "none");
            },
            true);
        ASSERT_TRUE(result.finished) << "the child hung or crashed";
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(result.output, std::string(row.socket_error) + "|claimed|" +
                                     (row.pid_written ? "written" : "none"));
    }
}

TEST(PidFileFaults, ANonFileAtThePidPathNeitherBlocksTheStartNorIsWritten) {
    TempDir dir;
    const fs::path pid = dir.path() / "flintsearch.pid";
    struct Row {
        const char* name;
        std::function<void()> plant;
        std::function<bool()> intact;
    };
    const Row rows[] = {
        {"a FIFO with no reader", [&] { ::mkfifo(pid.c_str(), 0600); },
         [&] { return fs::is_fifo(pid); }},
        {"a directory", [&] { fs::create_directory(pid); },
         [&] { return fs::is_directory(pid) && fs::is_empty(pid); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(pid);
        row.plant();
        // In a child: a blocking open would hang this test for good.
        const auto result = run_in_child(
            [&] {
                return std::string(toggle_instance(pid.string()).outcome == ToggleOutcome::Claimed
                                       ? "claimed"
                                       : "");
            },
            false, 10s);
        ASSERT_TRUE(result.finished) << "the toggle blocked on the pid path";
        EXPECT_EQ(result.output, "claimed");
        EXPECT_TRUE(row.intact());
    }
}

}  // namespace
}  // namespace flintsearch::client
