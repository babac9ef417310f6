// The real executable, for everything that ends before GTK starts: help,
// usage errors, the screenshot check and stopping a running launcher. No
// display is offered (WAYLAND_DISPLAY and DISPLAY are removed), so a run
// that reached GTK would fail these tests.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "flint/text.hpp"
#include "process_helpers.hpp"

namespace flintsearch {
namespace {

using test::RunResult;
using test::TempDir;

class Binary : public testing::Test {
  protected:
    RunResult run(std::vector<std::string> args, std::string argv0 = FLINTSEARCH_BINARY) {
        args.insert(args.begin(), std::move(argv0));
        return test::run_captured(
            FLINTSEARCH_BINARY, std::move(args),
            test::environment_with({"XDG_RUNTIME_DIR=" + runtime_.str(), "PATH=" + kill_.bin_dir(),
                                    "WAYLAND_DISPLAY", "DISPLAY"}),
            scratch_);
    }
    std::string pid_file() const { return runtime_.file("flintsearch.pid"); }

    TempDir runtime_;
    TempDir scratch_;
    test::KillRecorder kill_;
};

TEST_F(Binary, IsNamedForItsProcComm) {
    EXPECT_EQ(std::filesystem::path(FLINTSEARCH_BINARY).filename(), "flintsearch");
}

TEST_F(Binary, HelpGoesToStandardOutput) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, {"-h", "--bogus"}, {"--output", "x", "--help"}}) {
        SCOPED_TRACE(testing::PrintToString(args));
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.substr(0, 38), "Usage: flintsearch [OPTIONS]\n\nOptions:");
        EXPECT_EQ(r.out.back(), '\n');
        EXPECT_EQ(r.err, "");
    }
    EXPECT_FALSE(std::filesystem::exists(pid_file()));
}

TEST_F(Binary, UsageErrorsGoToStandardErrorWithStatusTwo) {
    struct Row {
        std::vector<std::string> args;
        std::string argv0;
        std::string message;
        std::string name;
    };
    const std::vector<Row> rows = {
        {{"search"}, FLINTSEARCH_BINARY, "unexpected argument 'search' found", "flintsearch"},
        {{"--width=-1"},
         FLINTSEARCH_BINARY,
         "invalid value '-1' for '--width <WIDTH>': -1 is not in 0..=4294967295",
         "flintsearch"},
        {{"--width", "800", "--width", "900"},
         "/elsewhere/fs",
         "the argument '--width <WIDTH>' cannot be used multiple times",
         "fs"},
        {{"--screenshot"},
         "fs\xFF",
         "a value is required for '--screenshot <SCREENSHOT>' but none was supplied",
         "flintsearch"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.args));
        const RunResult r = run(row.args, row.argv0);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "error: " + row.message + "\n\nUsage: " + row.name +
                             " [OPTIONS]\n\nFor more information, try '--help'.\n");
    }
    EXPECT_FALSE(std::filesystem::exists(pid_file()));
}

TEST_F(Binary, ScreenshotWithoutOutputExitsWithOne) {
    test::FakeLauncher launcher;
    test::write_file(pid_file(), std::to_string(launcher.pid()));
    const RunResult r = run({"--screenshot", "search", "--width", "800"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "flintsearch: --screenshot requires --output\n");
    // The check comes before the toggle: nothing was stopped or claimed.
    EXPECT_TRUE(kill_.calls().empty());
    EXPECT_EQ(flint::read_file(pid_file()), std::to_string(launcher.pid()));
}

TEST_F(Binary, SecondStartStopsTheRunningLauncher) {
    test::LockedLauncher launcher(pid_file());
    const std::string pid = std::to_string(launcher.pid());
    test::write_file(pid_file(), "+0" + pid + "\n");
    const RunResult r = run({});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(kill_.calls(), std::vector<std::string>{pid});
    EXPECT_EQ(flint::read_file(pid_file()), "+0" + pid + "\n");
}

// The executable alone, copied into a directory of its own, with whatever
// the test puts beside it as the interface module.
class LoneBinary : public Binary {
  protected:
    void SetUp() override {
        std::filesystem::create_directory(bin_dir());
        std::filesystem::copy_file(FLINTSEARCH_BINARY, binary());
    }
    // An installation of its own: PREFIX/bin/flintsearch.
    std::string bin_dir() const { return prefix_.file("bin"); }
    std::string binary() const { return bin_dir() + "/flintsearch"; }
    RunResult run_lone() {
        return test::run_captured(
            binary(), {binary()},
            test::environment_with({"XDG_RUNTIME_DIR=" + runtime_.str(), "PATH=" + kill_.bin_dir(),
                                    "WAYLAND_DISPLAY", "DISPLAY"}),
            scratch_);
    }

    TempDir prefix_;
};

// The closing press never needs the interface module, so it never loads GTK.
TEST_F(LoneBinary, StopsTheRunningLauncherWithoutTheInterfaceModule) {
    test::LockedLauncher launcher(pid_file());
    const std::string pid = std::to_string(launcher.pid());
    test::write_file(pid_file(), pid + "\n");
    const RunResult r = run_lone();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(kill_.calls(), std::vector<std::string>{pid});
}

// A start that would show a window loads the one module of its own
// installation (beside a copy of the executable counts for nothing). When
// that module is broken, or others could have written it, the start says so,
// ends with status 1 and leaves no pid file naming a process that has gone.
TEST_F(LoneBinary, OnlyItsOwnInstallationsTrustedModuleIsLoaded) {
    const std::string installed = bin_dir() + "/" FLINTSEARCH_MODULE_RELDIR "/flintsearch-ui.so";
    std::filesystem::create_directories(std::filesystem::path(installed).parent_path());
    const std::string beside = bin_dir() + "/flintsearch-ui.so";
    test::write_file(beside, "planted beside the executable\n");
    struct Row {
        const char* name;
        mode_t mode;
        std::string says;
    };
    const Row rows[] = {
        {"broken", 0644, installed},
        {"writable by every user", 0666, installed + ": it is writable by every user"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::write_file(installed, "not an ELF object\n", row.mode);
        const RunResult r = run_lone();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("flintsearch: cannot load the interface module: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(row.says), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find(beside), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(pid_file()));
        EXPECT_TRUE(kill_.calls().empty());
    }
}

}  // namespace
}  // namespace flintsearch
