#include "main/instance.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <optional>
#include <string>

#include "flint/text.hpp"
#include "process_helpers.hpp"
#include "scoped_env.hpp"
#include "util/pid_file.hpp"

namespace flintsearch {
namespace {

using test::TempDir;

using flintsearch::test::ScopedEnv;

TEST(PidText, AcceptedAndRejectedForms) {
    struct Row {
        std::string text;
        std::optional<std::uint32_t> pid;
    };
    const std::vector<Row> rows = {
        {"4711", 4711},
        {"4711\n", 4711},
        {"  +4711  ", 4711},
        {"\t\r\n\v\f4711\n", 4711},
        {"\xC2\x85\xC2\xA0\xE3\x80\x80"
         "4711\xE2\x80\xA8\xE2\x80\xAF",
         4711},
        {"0004711", 4711},
        {"+007", 7},
        {"0", 0},
        {"4294967295", 4294967295u},
        {"", std::nullopt},
        {" \n", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"-4711", std::nullopt},
        {"-0", std::nullopt},
        {"++4711", std::nullopt},
        {"abc", std::nullopt},
        {"47 11", std::nullopt},
        {"4711x", std::nullopt},
        {"4294967296", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"\xEF\xBC\x94", std::nullopt},  // a full-width digit is not an ASCII digit
        {"\xE2\x80\x8B"
         "4711",
         std::nullopt},  // zero-width space is not White_Space
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.text));
        EXPECT_EQ(util::parse_pid_text(row.text), row.pid);
    }
}

// Runs each test with its own pid file and a recording `kill` as the only
// one on PATH.
class Toggle : public testing::Test {
  protected:
    Toggle() : path_env_("PATH", kill_.bin_dir().c_str()) {}

    static void SetUpTestSuite() {
        // Like the launcher itself; the child must get SIGPIPE back.
        std::signal(SIGPIPE, SIG_IGN);
    }

    std::string pid_file() const { return runtime_.file("flintsearch.pid"); }
    std::optional<std::string> pid_file_contents() const { return flint::read_file(pid_file()); }
    static std::string own_pid() { return std::to_string(getpid()); }
    ToggleOutcome toggle() { return toggle_instance(pid_file()).outcome; }

    TempDir runtime_;
    test::KillRecorder kill_;
    ScopedEnv path_env_;
};

TEST_F(Toggle, RunningLauncherIsStoppedAndPidFileKept) {
    test::LockedLauncher launcher(pid_file());
    ASSERT_GT(launcher.pid(), 0);
    const std::string pid = std::to_string(launcher.pid());
    for (const std::string& stored :
         {pid, pid + "\n", "  +" + pid + " \n", "+000" + pid, "\xE3\x80\x80" + pid + "\r\n"}) {
        SCOPED_TRACE(testing::PrintToString(stored));
        test::write_file(pid_file(), stored, 0600);
        std::filesystem::remove(kill_.log());

        EXPECT_EQ(toggle(), ToggleOutcome::StoppedAnother);
        // kill gets the id formatted afresh, as its only argument.
        EXPECT_EQ(kill_.calls(), std::vector<std::string>{pid});
        EXPECT_EQ(pid_file_contents(), stored);
    }
    // The stand-in kill stops nothing: the launcher was not touched otherwise.
    EXPECT_TRUE(launcher.running());
}

TEST_F(Toggle, KillGetsDefaultSigpipe) {
    test::LockedLauncher launcher(pid_file());
    test::write_file(pid_file(), std::to_string(launcher.pid()), 0600);
    ASSERT_EQ(toggle(), ToggleOutcome::StoppedAnother);
    const auto mask = kill_.last_ignored_mask();
    ASSERT_TRUE(mask);
    EXPECT_EQ(*mask & (1ull << (SIGPIPE - 1)), 0u) << std::hex << *mask;
}

TEST_F(Toggle, MissingKillIsIgnored) {
    test::LockedLauncher launcher(pid_file());
    test::write_file(pid_file(), std::to_string(launcher.pid()), 0600);
    const TempDir empty;
    ScopedEnv no_kill("PATH", empty.path().c_str());
    EXPECT_EQ(toggle(), ToggleOutcome::StoppedAnother);
    EXPECT_EQ(pid_file_contents(), std::to_string(launcher.pid()));
}

TEST_F(Toggle, FailedKillMeansStaleAndTheLauncherOpens) {
    test::LockedLauncher launcher(pid_file());
    test::write_file(pid_file(), std::to_string(launcher.pid()), 0600);
    test::write_file(kill_.bin_dir() + "/kill", "#!/bin/sh\nexit 1\n", 0755);
    // The holder keeps its lock: this start opens without claiming the file.
    const ToggleResult held = toggle_instance(pid_file());
    EXPECT_EQ(held.outcome, ToggleOutcome::Claimed);
    EXPECT_FALSE(held.claim.has_value());
    // Once the holder is gone, the file is claimed.
    launcher.stop();
    EXPECT_TRUE(toggle_instance(pid_file()).claim.has_value());
    EXPECT_EQ(pid_file_contents(), own_pid());
}

TEST_F(Toggle, ClaimsWhenNoLauncherHoldsTheFile) {
    test::Child other("/bin/sleep", {"sleep", "600"});
    ASSERT_GT(other.pid(), 0);
    // A process named like the launcher that does not hold the lock: the
    // stale file's id was reused (by anyone: ids are visible to all).
    test::FakeLauncher unlocked;
    // An id whose process is gone.
    pid_t gone;
    {
        test::Child exited("/bin/true", {"true"});
        exited.reap();
        gone = exited.pid();
    }
    struct Row {
        std::string name;
        std::optional<std::string> stored;  // nothing: no pid file
    };
    const std::vector<Row> rows = {
        {"no pid file", std::nullopt},
        {"empty", ""},
        {"lone plus", "+"},
        {"negative", "-" + std::to_string(other.pid())},
        {"garbage", "abc"},
        {"too large", "4294967296"},
        {"not UTF-8", "\xFF" + std::to_string(other.pid())},
        {"process of another name", std::to_string(other.pid())},
        {"process gone", std::to_string(gone)},
        {"own process (comm is the test's)", own_pid()},
        {"a launcher's name, no lock", std::to_string(unlocked.pid())},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(pid_file());
        if (row.stored) {
            test::write_file(pid_file(), *row.stored);
        }
        const ToggleResult got = toggle_instance(pid_file());
        EXPECT_EQ(got.outcome, ToggleOutcome::Claimed);
        EXPECT_TRUE(got.claim.has_value());
        EXPECT_EQ(pid_file_contents(), own_pid());
    }
    EXPECT_TRUE(kill_.calls().empty());
    EXPECT_TRUE(other.running());
    EXPECT_TRUE(unlocked.running());
}

TEST_F(Toggle, OneOfTwoStartsAtOnceClaims) {
    // The second start finds the lock of the first, whose id names no
    // launcher (it is this test): it neither kills nor claims.
    const ToggleResult first = toggle_instance(pid_file());
    ASSERT_TRUE(first.claim.has_value());
    const ToggleResult second = toggle_instance(pid_file());
    EXPECT_FALSE(second.claim.has_value());
    EXPECT_TRUE(kill_.calls().empty());
    EXPECT_EQ(pid_file_contents(), own_pid());
}

TEST_F(Toggle, CreatedFileModes) {
    const mode_t old = umask(027);
    toggle_instance(pid_file());
    const ToggleResult in_shared_dir = toggle_instance(runtime_.file("private.pid"), true);
    umask(old);
    struct stat st {};
    ASSERT_EQ(stat(pid_file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "0666 before the umask";
    ASSERT_EQ(stat(runtime_.file("private.pid").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "private whatever the umask";
}

TEST_F(Toggle, SymlinkAtPidPathIsNotFollowed) {
    const TempDir elsewhere;
    const std::string target = elsewhere.file("victim");
    test::write_file(target, "precious");
    ASSERT_EQ(symlink(target.c_str(), pid_file().c_str()), 0);

    EXPECT_EQ(toggle(), ToggleOutcome::Claimed);
    EXPECT_EQ(flint::read_file(target), "precious");
    EXPECT_TRUE(std::filesystem::is_symlink(pid_file()));

    // A dangling link does not create its target either.
    std::filesystem::remove(target);
    toggle();
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(Toggle, PidFileOfAnotherUserIsNotUsed) {
    if (getuid() != 0) {
        GTEST_SKIP() << "needs root to give the pid file to another user";
    }
    test::LockedLauncher launcher(pid_file());
    const std::string pid = std::to_string(launcher.pid());
    test::write_file(pid_file(), pid, 0666);
    ASSERT_EQ(chown(pid_file().c_str(), 65534, 65534), 0);

    // Someone else's file says nothing about our launchers: kill never
    // runs, the file is left as it is, and the launcher opens unclaimed.
    testing::internal::CaptureStderr();
    const ToggleResult got = toggle_instance(pid_file());
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(got.outcome, ToggleOutcome::Claimed);
    EXPECT_FALSE(got.claim.has_value());
    EXPECT_EQ(said, "flintsearch: not using " + pid_file() +
                        ": it is owned by another user (uid 65534)\n");
    EXPECT_TRUE(kill_.calls().empty());
    EXPECT_EQ(pid_file_contents(), pid);
    EXPECT_TRUE(launcher.running());
}

TEST_F(Toggle, LauncherOfAnotherUserIsNotStopped) {
    if (getuid() != 0) {
        GTEST_SKIP() << "needs root to run a process as another user";
    }
    // A program of our name run by "nobody": the name is not enough.
    const TempDir shared;
    ::chmod(shared.path().c_str(), 0755);
    const std::string program = shared.file("flintsearch");
    std::filesystem::copy_file("/bin/sleep", program);
    ::chmod(program.c_str(), 0755);
    test::Child foreign("/usr/bin/setpriv", {"setpriv", "--reuid=65534", "--regid=65534",
                                             "--clear-groups", program, "600"});
    ASSERT_GT(foreign.pid(), 0);
    for (int i = 0; i < 200 && flint::read_text_file("/proc/" + std::to_string(foreign.pid()) +
                                                     "/comm") != "flintsearch\n";
         ++i) {
        ::usleep(10'000);
    }
    EXPECT_FALSE(is_own_launcher(static_cast<std::uint32_t>(foreign.pid())));
    test::FakeLauncher own;
    EXPECT_TRUE(is_own_launcher(static_cast<std::uint32_t>(own.pid())));
}

TEST_F(Toggle, SymlinkToOwnPidFileIsNotTrusted) {
    test::LockedLauncher launcher(runtime_.file("elsewhere.pid"));
    test::write_file(runtime_.file("elsewhere.pid"), std::to_string(launcher.pid()), 0600);
    ASSERT_EQ(symlink(runtime_.file("elsewhere.pid").c_str(), pid_file().c_str()), 0);

    EXPECT_EQ(toggle(), ToggleOutcome::Claimed);
    EXPECT_TRUE(kill_.calls().empty());
}

TEST_F(Toggle, UnusablePidFileIsIgnored) {
    const ToggleResult got = toggle_instance(runtime_.file("no/such/dir/flintsearch.pid"));
    EXPECT_EQ(got.outcome, ToggleOutcome::Claimed);
    EXPECT_FALSE(got.claim.has_value());
}

TEST_F(Toggle, RemovePidFile) {
    toggle();
    ASSERT_TRUE(pid_file_contents());
    util::remove_pid_file(pid_file());
    EXPECT_FALSE(std::filesystem::exists(pid_file()));
    util::remove_pid_file(pid_file());  // a second removal fails quietly
    EXPECT_FALSE(std::filesystem::exists(pid_file()));
}

TEST_F(Toggle, StaleFileIsClaimedOnTheNextStart) {
    std::string stale;
    {
        test::LockedLauncher launcher(pid_file());
        stale = std::to_string(launcher.pid());
        test::write_file(pid_file(), stale, 0600);
        ASSERT_EQ(toggle(), ToggleOutcome::StoppedAnother);
    }  // the launcher ends here, leaving its pid file behind
    EXPECT_EQ(pid_file_contents(), stale);
    EXPECT_EQ(toggle(), ToggleOutcome::Claimed);
    EXPECT_EQ(pid_file_contents(), own_pid());
}

}  // namespace
}  // namespace flintsearch
