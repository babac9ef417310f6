#include "client/socket_client.hpp"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "scoped_env.hpp"
#include "standin_fixture.hpp"
#include "util/unique_fd.hpp"

namespace flintsearch::client {
namespace {

using flintsearch::testing::StandinDaemon;
using namespace std::chrono_literals;

const ExchangeLimits DEFAULT_LIMITS{};

using flintsearch::test::ScopedEnv;

int open_fd_count() {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++n;
    }
    return n;
}

std::string script_reply(const std::string& reply_json_text) {
    // An action whose "reply" is the given text, as a JSON string.
    std::string quoted;
    for (char c : reply_json_text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return R"({"reply":")" + quoted + R"("})";
}

Result<Response, ClientError> query(const StandinDaemon& daemon, const std::string& text,
                                    const ExchangeLimits& limits = DEFAULT_LIMITS) {
    return send_request_to(daemon.socket_path(), Query{text, 10}, limits);
}

// The stand-in's script for a table whose rows each carry an action.
template <class Rows>
std::vector<std::string> actions_of(const Rows& rows) {
    std::vector<std::string> script;
    for (const auto& row : rows) {
        script.push_back(row.action);
    }
    return script;
}

TEST(SendRequest, ExchangesOneLineWithTheDaemonInTheRuntimeDirectory) {
    StandinDaemon daemon(StandinDaemon::script(
        {script_reply(R"({"type":"hits","hits":[{"title":"Cats","path":"/d/cats.md",)"
                      R"("snippet":"Cats sleep.","score":0.5,"rank":1}]})")}));
    ASSERT_TRUE(daemon.running()) << daemon.failure();
    ScopedEnv env("XDG_RUNTIME_DIR");
    ::setenv("XDG_RUNTIME_DIR", daemon.dir().c_str(), 1);

    const auto got = send_request(Query{"cat \"x\"", 10});
    ASSERT_TRUE(got.has_value()) << got.error().text;
    const auto& list = std::get<Hits>(*got).hits;
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].title, "Cats");
    EXPECT_EQ(list[0].path, "/d/cats.md");
    EXPECT_EQ(list[0].snippet, "Cats sleep.");
    EXPECT_FLOAT_EQ(list[0].score, 0.5f);
    // Exactly one request line went out.
    EXPECT_EQ(daemon.log(), "{\"type\":\"query\",\"query\":\"cat \\\"x\\\"\",\"limit\":10}\n");
}

TEST(SendRequest, UnderstandsEveryWayTheDaemonMayEndItsReply) {
    struct Row {
        const char* name;
        std::string action;
    };
    const Row rows[] = {
        {"plain line", R"({"reply":"{\"type\":\"ok\"}"})"},
        {"no final line feed", R"({"reply":"{\"type\":\"ok\"}","no_newline":true})"},
        {"connection kept open", R"({"reply":"{\"type\":\"ok\"}","keep_open":true})"},
        {"padded with spaces, CR and no-break spaces",
         R"({"reply":" \r\u00a0{\"type\":\"ok\"}\u00a0\u3000 \r"})"},
        {"a second line is ignored", R"({"reply":"{\"type\":\"ok\"}\n{\"type\":\"nonsense\"}"})"},
        {"second line garbage, kept open",
         R"({"reply_hex":"7b2274797065223a226f6b227d0afffe00","keep_open":true})"},
        {"slow answer", R"({"reply":"{\"type\":\"ok\"}","delay_ms":300})"},
    };
    // One daemon for the table: connection N follows script line N.
    StandinDaemon daemon(StandinDaemon::script(actions_of(rows)));
    ASSERT_TRUE(daemon.running()) << daemon.failure();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto got = query(daemon, "cat");
        ASSERT_TRUE(got.has_value()) << got.error().text;
        EXPECT_TRUE(std::holds_alternative<Ok>(*got));
    }
}

TEST(SendRequest, ReturnsTheDaemonsErrorReplyAsAResponse) {
    StandinDaemon daemon(
        StandinDaemon::script({script_reply(R"({"type":"error","message":"index locked"})")}));
    ASSERT_TRUE(daemon.running()) << daemon.failure();
    const auto got = query(daemon, "cat");
    ASSERT_TRUE(got.has_value()) << got.error().text;
    EXPECT_EQ(std::get<Error>(*got).message, "index locked");
}

TEST(SendRequest, TurnsBadRepliesIntoClientErrors) {
    struct Row {
        const char* name;
        std::string action;
        // Our own exact text; empty where it is the JSON parser's, whose
        // words differ between its releases (then any text will do).
        std::string text;
    };
    const Row rows[] = {
        {"closed without a word", R"({"close_silently":true})", ""},
        {"invalid UTF-8", R"({"reply_hex":"7b2274797065223a226f6b22ff7d0a"})",
         "stream did not contain valid UTF-8"},
        {"invalid UTF-8 without line feed", R"({"reply_hex":"c3"})",
         "stream did not contain valid UTF-8"},
        {"not JSON", R"({"reply":"hello"})", ""},
        {"unknown reply kind", script_reply(R"({"type":"foo"})"),
         "unknown variant \"foo\", expected one of \"hits\", \"status_info\", \"ok\", \"error\""},
        {"very long line", R"({"repeat":200000})", ""},
    };
    StandinDaemon daemon(StandinDaemon::script(actions_of(rows)));
    ASSERT_TRUE(daemon.running()) << daemon.failure();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto got = query(daemon, "cat");
        ASSERT_FALSE(got.has_value());
        if (row.text.empty()) {
            EXPECT_FALSE(got.error().text.empty());
        } else {
            EXPECT_EQ(got.error().text, row.text);
        }
    }
}

TEST(SendRequest, ReportsConnectFailuresLikeTheSystem) {
    char pattern[] = "/tmp/flint-client-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;

    // A socket file that nobody listens on: bind, then close the listener.
    const std::string stale = dir + "/stale.sock";
    {
        util::UniqueFd s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        stale.copy(addr.sun_path, sizeof addr.sun_path - 1);
        ASSERT_EQ(::bind(s.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    }
    // 107 bytes fit in sun_path with the NUL; 108 do not.
    const std::string long_dir = dir + "/" + std::string(107 - dir.size() - 1, 'd');
    ASSERT_EQ(long_dir.size(), 107u);

    struct Row {
        std::string path;
        std::string text;
    };
    const Row rows[] = {
        {dir + "/missing.sock", "No such file or directory (os error 2)"},
        {dir + "/no-such-dir/flintmill.sock", "No such file or directory (os error 2)"},
        {stale, "Connection refused (os error 111)"},
        {dir + std::string("/a\0b", 4), "paths must not contain interior null bytes"},
        {long_dir, "No such file or directory (os error 2)"},   // 107 bytes: tried
        {long_dir + "x", "path must be shorter than SUN_LEN"},  // 108 bytes
        {"", "Invalid argument (os error 22)"},
    };
    const int before = open_fd_count();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        const auto got = send_request_to(row.path, Query{"cat", 10}, DEFAULT_LIMITS);
        ASSERT_FALSE(got.has_value());
        EXPECT_EQ(got.error().text, row.text);
    }
    EXPECT_EQ(open_fd_count(), before);
    std::filesystem::remove_all(dir);
}

TEST(SendRequest, GivesUpOnASilentDaemonAfterTheTimeout) {
    StandinDaemon daemon(StandinDaemon::script({R"({"hang":true})"}));
    ASSERT_TRUE(daemon.running()) << daemon.failure();
    const auto start = std::chrono::steady_clock::now();
    const auto got = query(daemon, "cat", ExchangeLimits{300ms, MAX_REPLY_BYTES});
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().text, "flintmill did not answer within 300 milliseconds");
    EXPECT_GE(took, 250ms);
    EXPECT_LT(took, 10s);
}

TEST(SendRequest, TimeoutTextNamesSeconds) {
    StandinDaemon daemon(StandinDaemon::script({R"({"hang":true})"}));
    ASSERT_TRUE(daemon.running()) << daemon.failure();
    const auto got = query(daemon, "cat", ExchangeLimits{1s, MAX_REPLY_BYTES});
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().text, "flintmill did not answer within 1 second");
}

TEST(SendRequest, RefusesARunawayReplyLine) {
    const std::string padded = R"({"type":"ok","pad":"xxxxxx"})";
    StandinDaemon daemon(
        StandinDaemon::script({R"({"repeat":100000,"keep_open":true})", script_reply(padded)}));
    ASSERT_TRUE(daemon.running()) << daemon.failure();
    const auto got = query(daemon, "cat", ExchangeLimits{30s, 1000});
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().text, "reply from flintmill is longer than 1000 bytes");
    // A line of exactly the limit (line feed not counted) is fine.
    const auto fits = query(daemon, "cat", ExchangeLimits{30s, padded.size()});
    EXPECT_TRUE(fits.has_value()) << fits.error().text;
    const auto over = query(daemon, "cat", ExchangeLimits{30s, padded.size() - 1});
    EXPECT_FALSE(over.has_value());
}

TEST(SendRequest, LeaksNoDescriptorOnAnyPath) {
    StandinDaemon daemon(StandinDaemon::script({
        R"({"reply":"{\"type\":\"ok\"}"})",
        R"({"close_silently":true})",
        R"({"reply_hex":"ff0a"})",
        R"({"repeat":5000,"keep_open":true})",
        R"({"hang":true})",
    }));
    ASSERT_TRUE(daemon.running()) << daemon.failure();
    const int before = open_fd_count();
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        (void)query(daemon, "cat", ExchangeLimits{200ms, 1000});
        EXPECT_EQ(open_fd_count(), before);
    }
    (void)send_request_to(daemon.dir() + "/missing", Query{"cat", 10}, DEFAULT_LIMITS);
    (void)send_request_to(std::string("a\0b", 3), Query{"cat", 10}, DEFAULT_LIMITS);
    EXPECT_EQ(open_fd_count(), before);
}

// A daemon of another user: a forked child that drops to "nobody", listens
// on the path and answers every connection with an "ok" reply.
class ForeignDaemon {
  public:
    explicit ForeignDaemon(const std::string& path) {
        int ready[2];
        if (::pipe(ready) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            path.copy(addr.sun_path, sizeof addr.sun_path - 1);
            // The listening socket's credentials are the ones taken at
            // listen(): drop privileges first.
            if (::setgid(65534) != 0 || ::setuid(65534) != 0 ||
                ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
                ::listen(fd, 4) != 0) {
                ::_exit(1);
            }
            (void)::write(ready[1], "r", 1);
            for (;;) {
                const int conn = ::accept(fd, nullptr, nullptr);
                const char reply[] = "{\"type\":\"ok\"}\n";
                (void)::send(conn, reply, sizeof reply - 1, MSG_NOSIGNAL);
                ::close(conn);
            }
        }
        ::close(ready[1]);
        char byte = 0;
        ready_ = ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
    }
    ForeignDaemon(const ForeignDaemon&) = delete;
    ForeignDaemon& operator=(const ForeignDaemon&) = delete;
    ~ForeignDaemon() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    bool ready() const { return ready_; }

  private:
    pid_t pid_ = -1;
    bool ready_ = false;
};

TEST(SendRequest, RefusesADaemonOfAnotherUser) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "needs root to run a daemon as another user";
    }
    StandinDaemon own(StandinDaemon::script({R"({"reply":"{\"type\":\"ok\"}"})"}));
    ASSERT_TRUE(own.running()) << own.failure();
    // The directory must let "nobody" create its socket.
    ASSERT_EQ(::chmod(own.dir().c_str(), 0777), 0);
    const std::string path = own.dir() + "/foreign.sock";
    const ForeignDaemon foreign(path);
    ASSERT_TRUE(foreign.ready());

    const auto refused = send_request_to(path, Query{"cat", 10}, DEFAULT_LIMITS);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().text,
              "refusing a daemon that runs as another user (uid 65534, not 0)");
    // A daemon of our own user is still answered.
    EXPECT_TRUE(send_request_to(own.socket_path(), Query{"cat", 10}, DEFAULT_LIMITS).has_value());
}

TEST(SendRequest, RunsConcurrentExchangesIndependently) {
    StandinDaemon daemon(StandinDaemon::script({R"({"delay_ms":200})"}));
    ASSERT_TRUE(daemon.running()) << daemon.failure();
    std::vector<std::thread> threads;
    std::vector<int> ok(4, 0);
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&, i] {
            const auto got = query(daemon, "q" + std::to_string(i));
            ok[i] = got.has_value() && std::holds_alternative<Hits>(*got);
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(ok, std::vector<int>(4, 1));
}

TEST(StandinCorpus, RanksFilesByWordOverlap) {
    char pattern[] = "/tmp/flint-corpus-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    std::ofstream(dir + "/cats.md") << "# Cats at home\n\nCats sleep most of the day.\n";
    std::ofstream(dir + "/notes.txt") << "\n  Shopping list\nmilk, cat food\n";
    std::ofstream(dir + "/image.png") << "cat cat cat";
    {
        StandinDaemon daemon(StandinDaemon::corpus(dir));
        ASSERT_TRUE(daemon.running()) << daemon.failure();

        auto got = query(daemon, "cats sleep");
        ASSERT_TRUE(got.has_value()) << got.error().text;
        auto list = std::get<Hits>(*got).hits;
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].title, "Cats at home");
        EXPECT_EQ(list[0].path, dir + "/cats.md");
        EXPECT_EQ(list[0].snippet, "Cats sleep most of the day.");
        EXPECT_FLOAT_EQ(list[0].score, 1.0f);

        got = query(daemon, "cat food");
        ASSERT_TRUE(got.has_value()) << got.error().text;
        list = std::get<Hits>(*got).hits;
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].title, "Shopping list");
        EXPECT_EQ(list[0].snippet, "milk, cat food");

        got = query(daemon, "zebra");
        ASSERT_TRUE(got.has_value()) << got.error().text;
        EXPECT_TRUE(std::get<Hits>(*got).hits.empty());

        got = send_request_to(daemon.socket_path(), Status{}, DEFAULT_LIMITS);
        ASSERT_TRUE(got.has_value()) << got.error().text;
        EXPECT_EQ(std::get<StatusInfo>(*got).indexed, 2u);
        got = send_request_to(daemon.socket_path(), Reindex{}, DEFAULT_LIMITS);
        ASSERT_TRUE(got.has_value()) << got.error().text;
        EXPECT_TRUE(std::holds_alternative<Ok>(*got));
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace flintsearch::client
