// Capture without a display: run_with_timeout and capture_view against stub
// `grim` programs (shell scripts written into a temporary PATH directory).
#include "screenshot/capture.hpp"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "scoped_env.hpp"
#include "temp_dir.hpp"

namespace fs = flintsearch::screenshot;
using namespace std::chrono_literals;

namespace {

using flintsearch::test::read_file;

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> split_nul(const std::string& bytes) {
    std::vector<std::string> parts;
    std::string current;
    for (char c : bytes) {
        if (c == '\0') {
            parts.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    return parts;
}

int count_open_fds() {
    int n = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) {
        return -1;
    }
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] != '.') {
            ++n;
        }
    }
    ::closedir(dir);
    return n - 1;  // the directory stream's own descriptor
}

using flintsearch::test::ScopedEnv;

// A temporary directory holding a stub-program directory (first on PATH) and
// a working directory the test changes into.
class CaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/flintsearch-capture-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        bin_ = root_ + "/bin";
        cwd_ = root_ + "/cwd";
        ASSERT_EQ(::mkdir(bin_.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(cwd_.c_str(), 0755), 0);
        char buf[4096];
        ASSERT_NE(::getcwd(buf, sizeof buf), nullptr);
        old_cwd_ = buf;
        ASSERT_EQ(::chdir(cwd_.c_str()), 0);
        path_.emplace("PATH", (bin_ + ":/usr/bin:/bin").c_str());
    }

    void TearDown() override {
        path_.reset();
        ASSERT_EQ(::chdir(old_cwd_.c_str()), 0);
        const std::string cmd = "rm -rf '" + root_ + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }

    void write_stub(const std::string& name, const std::string& body) {
        const std::string path = bin_ + "/" + name;
        std::ofstream(path) << "#!/bin/sh\n" << body;
        ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
    }

    // A grim that records its arguments (NUL-terminated) and exits 0.
    void write_recording_grim() {
        write_stub("grim", "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" + record() +
                               "'\nexit 0\n");
    }

    std::string record() const { return root_ + "/argv"; }
    std::vector<std::string> recorded_args() const { return split_nul(read_file(record())); }

    std::string root_, bin_, cwd_, old_cwd_;
    std::optional<ScopedEnv> path_;
};

std::string message_of(const flintsearch::Result<void, fs::CaptureError>& r) {
    return r ? std::string("<success>") : r.error().message;
}

TEST_F(CaptureTest, SuccessfulCapturePassesGeometryAndPathAsSeparateArguments) {
    write_recording_grim();
    const auto result = fs::capture_output(1920, 1080, "my shot; rm -rf x.png");
    ASSERT_TRUE(result) << message_of(result);
    EXPECT_EQ(recorded_args(),
              (std::vector<std::string>{"-g", "0,0 1920x1080", "my shot; rm -rf x.png"}));
    EXPECT_FALSE(exists("x.png"));
}

TEST_F(CaptureTest, GeometryFollowsRequestedSize) {
    struct Row {
        std::uint32_t width, height;
        const char* geometry;
    };
    for (const Row& row : {Row{1280, 720, "0,0 1280x720"}, Row{1, 1, "0,0 1x1"},
                           Row{2147483647, 2147483647, "0,0 2147483647x2147483647"}}) {
        SCOPED_TRACE(row.geometry);
        write_recording_grim();
        ASSERT_TRUE(fs::capture_output(row.width, row.height, "s.png"));
        EXPECT_EQ(recorded_args(), (std::vector<std::string>{"-g", row.geometry, "s.png"}));
    }
    EXPECT_EQ(fs::capture_geometry(-3, 7, 10, 20), "-3,7 10x20");
}

TEST_F(CaptureTest, SizesBeyondSignedRangeAreRejectedWithoutRunningGrim) {
    write_recording_grim();
    struct Row {
        std::uint32_t width, height;
        const char* message;
    };
    for (const Row& row : {
             Row{4294967295u, 1080,
                 "width 4294967295 is too large for a capture (at most 2147483647)"},
             Row{1920, 2147483648u,
                 "height 2147483648 is too large for a capture (at most 2147483647)"},
             Row{4294967295u, 4294967295u,
                 "width 4294967295 is too large for a capture (at most 2147483647)"},
         }) {
        SCOPED_TRACE(row.message);
        EXPECT_EQ(message_of(fs::capture_output(row.width, row.height, "s.png")), row.message);
    }
    EXPECT_FALSE(exists(record()));
}

TEST_F(CaptureTest, ChildSeesCLocaleInheritedEnvironmentNullStdinAndDefaultSigpipe) {
    ScopedEnv lc_all("LC_ALL", "de_DE.UTF-8");
    ScopedEnv lang("LANG", "de_DE.UTF-8");
    ScopedEnv mark("FLINTSEARCH_TEST_MARK", "inherited");
    // The launcher ignores SIGPIPE; its children must not.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction old {};
    ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &old), 0);
    write_stub("grim",
               "printf '%s\\0' \"$LC_ALL\" \"$LANG\" \"$FLINTSEARCH_TEST_MARK\" "
               "\"$(readlink /proc/self/fd/0)\" "
               "\"$(sed -n 's/^SigIgn:[[:space:]]*//p' /proc/$$/status)\" > '" +
                   record() + "'\n");
    const auto result = fs::capture_output(1920, 1080, "s.png");
    ::sigaction(SIGPIPE, &old, nullptr);
    ASSERT_TRUE(result) << message_of(result);

    const auto seen = recorded_args();
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0], "C");
    EXPECT_EQ(seen[1], "C");
    EXPECT_EQ(seen[2], "inherited");
    EXPECT_EQ(seen[3], "/dev/null");
    const unsigned long long ignored = std::stoull(seen[4], nullptr, 16);
    EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u) << "SigIgn " << seen[4];
}

TEST_F(CaptureTest, FailureMessagesCarryTrimmedErrorOutput) {
    struct Row {
        const char* name;
        const char* body;  // nullptr: no grim on PATH
        const char* message;
    };
    for (const Row& row : {
             Row{"failing", "printf '  cannot open display\\n' >&2\nexit 1\n",
                 "grim failed for geometry 0,0 1920x1080: cannot open display"},
             Row{"missing", nullptr, "grim failed for geometry 0,0 1920x1080: "},
             Row{"silent failure", "exit 2\n", "grim failed for geometry 0,0 1920x1080: "},
             Row{"killed by a signal", "echo bye >&2\nkill -TERM $$\n",
                 "grim failed for geometry 0,0 1920x1080: bye"},
             Row{"stdout ignored", "echo noise\nprintf '\\342\\200\\203x\\t\\n' >&2\nexit 1\n",
                 "grim failed for geometry 0,0 1920x1080: x"},
             Row{"not UTF-8", "printf '\\377bad\\n' >&2\nexit 1\n",
                 "grim failed for geometry 0,0 1920x1080: \xEF\xBF\xBD"
                 "bad"},
         }) {
        SCOPED_TRACE(row.name);
        ::unlink((bin_ + "/grim").c_str());
        if (row.body != nullptr) {
            write_stub("grim", row.body);
        } else {
            // Only the empty stub directory: /usr/bin/grim must not be found.
            path_.emplace("PATH", bin_.c_str());
        }
        EXPECT_EQ(message_of(fs::capture_output(1920, 1080, "s.png")), row.message);
        path_.emplace("PATH", (bin_ + ":/usr/bin:/bin").c_str());
    }
}

TEST_F(CaptureTest, OutputDirectoriesAreCreatedBelowWorkingDirectory) {
    write_recording_grim();
    const mode_t old_mask = ::umask(022);
    const auto result = fs::capture_output(1920, 1080, "shots/today/s.png");
    ::umask(old_mask);
    ASSERT_TRUE(result) << message_of(result);
    EXPECT_EQ(recorded_args(),
              (std::vector<std::string>{"-g", "0,0 1920x1080", "shots/today/s.png"}));
    struct stat st {};
    ASSERT_EQ(::stat((cwd_ + "/shots/today").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0755u);

    // Existing directories (and doubled slashes) are fine.
    ASSERT_TRUE(fs::capture_output(1920, 1080, "shots//today/t.png"));
    ASSERT_TRUE(fs::capture_output(1920, 1080, cwd_ + "/shots/u.png"));
}

TEST_F(CaptureTest, BareFileNameCreatesNothing) {
    write_recording_grim();
    ASSERT_TRUE(fs::capture_output(1920, 1080, "s.png"));
    DIR* dir = ::opendir(cwd_.c_str());
    ASSERT_NE(dir, nullptr);
    int entries = 0;
    while (const dirent* e = ::readdir(dir)) {
        entries += e->d_name[0] != '.';
    }
    ::closedir(dir);
    EXPECT_EQ(entries, 0);
}

TEST_F(CaptureTest, DirectoryAndPathProblemsStopBeforeGrim) {
    write_recording_grim();
    std::ofstream("plain") << "a file, not a directory";
    struct Row {
        const char* output;
        const char* message;
        const char* created;  // a directory that exists afterwards, or nullptr
    };
    for (const Row& row : {
             Row{"plain/sub/s.png", "creating plain/sub", nullptr},
             Row{"plain/s.png", "creating plain", nullptr},
             Row{"raw\xff/s.png", "output path is not valid UTF-8", "raw\xff"},
             Row{"s\xff.png", "output path is not valid UTF-8", nullptr},
             Row{"plain\xfe/x/s.png", "output path is not valid UTF-8", "plain\xfe/x"},
         }) {
        SCOPED_TRACE(row.output);
        EXPECT_EQ(message_of(fs::capture_output(1920, 1080, row.output)), row.message);
        if (row.created != nullptr) {
            struct stat st {};
            EXPECT_EQ(::stat(row.created, &st), 0);
            EXPECT_TRUE(S_ISDIR(st.st_mode));
        }
    }
    EXPECT_FALSE(exists("plain/sub"));
    EXPECT_FALSE(exists(record()));
    // A parent that is not UTF-8 and cannot be created is shown lossily.
    std::ofstream("file\xff") << "x";
    EXPECT_EQ(message_of(fs::capture_output(1920, 1080, "file\xff/a/s.png")),
              "creating file\xEF\xBF\xBD/a");
}

// A "does not hang" check, not a timing goal: the bound is deliberately loose.
TEST_F(CaptureTest, HangingGrimIsKilledAfterTheTimeoutAndItsErrorOutputKept) {
    // Not exec'd: the shell's own child holds the pipes too, and must die with it.
    write_stub("grim", "echo 'still working' >&2\nsleep 60\n");
    const auto start = std::chrono::steady_clock::now();
    const auto result = fs::capture_output(1920, 1080, "s.png");
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(message_of(result), "grim failed for geometry 0,0 1920x1080: still working");
    EXPECT_GE(elapsed.count(), 4.9);
    EXPECT_LE(elapsed.count(), 8.0);
}

TEST_F(CaptureTest, ChattyChildFillingBothPipesDoesNotDeadlock) {
    // stderr first: a caller that read stdout to its end before stderr would
    // wait forever with the child blocked on a full stderr pipe.
    write_stub("chatty",
               "head -c 1048576 /dev/zero | tr '\\0' e >&2\n"
               "head -c 1048576 /dev/zero | tr '\\0' o\n");
    const auto outcome = fs::run_with_timeout("chatty", {}, 30s);
    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(outcome.stdout_bytes, std::string(1048576, 'o'));
    EXPECT_EQ(outcome.stderr_bytes, std::string(1048576, 'e'));
}

TEST_F(CaptureTest, EscapedGrandchildHoldingThePipesDoesNotBlockTheCaller) {
    const std::string pid_file = root_ + "/grandchild.pid";
    write_stub("leaky", "echo early >&2\nsetsid sh -c 'echo $$ > \"" + pid_file +
                            "\"; exec sleep 20' &\nexit 0\n");
    const auto start = std::chrono::steady_clock::now();
    const auto outcome = fs::run_with_timeout("leaky", {}, 10s);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(outcome.stderr_bytes, "early\n");
    EXPECT_LT(elapsed.count(), 5.0);
    for (int i = 0; i < 100 && read_file(pid_file).empty(); ++i) {
        std::this_thread::sleep_for(20ms);
    }
    if (const std::string pid = read_file(pid_file); !pid.empty()) {
        ::kill(std::stoi(pid), SIGKILL);
    }
}

TEST_F(CaptureTest, NoDescriptorIsLeftOpenOnAnyPath) {
    write_stub("ok", "echo out\necho err >&2\n");
    write_stub("fails", "exit 1\n");
    write_stub("hangs", "sleep 60\n");
    const int before = count_open_fds();
    ASSERT_GT(before, 0);
    struct Row {
        const char* program;
        bool success;
    };
    for (const Row& row : {Row{"ok", true}, Row{"fails", false}, Row{"hangs", false},
                           Row{"no-such-program-here", false}}) {
        SCOPED_TRACE(row.program);
        const auto outcome = fs::run_with_timeout(row.program, {}, 300ms);
        EXPECT_EQ(outcome.success, row.success);
        EXPECT_EQ(count_open_fds(), before);
    }
    write_recording_grim();
    ASSERT_TRUE(fs::capture_output(1920, 1080, "a/b.png"));
    EXPECT_EQ(count_open_fds(), before);
}

TEST_F(CaptureTest, ArgumentsReachTheChildUnchangedAndOutputsAreSeparate) {
    write_stub("echoer", "for a in \"$@\"; do printf '[%s]' \"$a\"; done\nprintf E >&2\n");
    const auto outcome = fs::run_with_timeout("echoer", {"", "a b", "$HOME", "*", "x\ny"}, 10s);
    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(outcome.stdout_bytes, "[][a b][$HOME][*][x\ny]");
    EXPECT_EQ(outcome.stderr_bytes, "E");
}

TEST(FinishCaptureTest, EndsTheProcessWithTheStatusAndMessage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(fs::finish_capture({}), ::testing::ExitedWithCode(0), "^$");
    EXPECT_EXIT(fs::finish_capture(flintsearch::unexpected(fs::CaptureError{"creating shots"})),
                ::testing::ExitedWithCode(1),
                "^flintsearch: screenshot capture failed: creating shots\n$");
}

}  // namespace
