// The window side of screenshot mode, under a headless compositor: the view
// check and the capture timer. Both end the process, so every case runs as a
// death test in a child of its own (which initialises GTK afresh).
#include "window/screenshot_view.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "temp_dir.hpp"

namespace {

using flintsearch::test::read_file;

class ScreenshotViewTest : public ::testing::Test {
  protected:
    static constexpr const char* DIR_VARIABLE = "FLINTSEARCH_VIEW_TEST_DIR";

    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        // The death-test child re-runs this fixture in a fresh process; it
        // must use the parent's directory, so the path goes by environment.
        if (const char* inherited = std::getenv(DIR_VARIABLE)) {
            dir_ = inherited;
        } else {
            char tmpl[] = "/tmp/flintsearch-view-XXXXXX";
            ASSERT_NE(::mkdtemp(tmpl), nullptr);
            dir_ = tmpl;
            ::setenv(DIR_VARIABLE, dir_.c_str(), 1);
        }
        // A grim that records its arguments and the time it ran.
        const std::string grim = dir_ + "/grim";
        std::ofstream(grim) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > '"
                            << dir_ << "/argv'\ndate +%s%N > '" << dir_ << "/ran-at'\n";
        ASSERT_EQ(::chmod(grim.c_str(), 0755), 0);
    }
    void TearDown() override {
        ::unsetenv(DIR_VARIABLE);
        const std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }

    // Child side: builds a window, hands it over, presents it, runs the loop.
    // The capture (or the view check) ends the process; returning from here
    // means it never did.
    void run_window(const flintsearch::cli::ScreenshotRequest& request) {
        const std::string path = dir_ + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "");
        ::setenv("PATH", path.c_str(), 1);
        ASSERT_EQ(::chdir(dir_.c_str()), 0);
        gtk_init();
        GtkWidget* window = gtk_window_new();
        const std::string mapped_at = dir_ + "/mapped-at";
        g_signal_connect_data(
            window, "map", G_CALLBACK(+[](GtkWidget*, gpointer file) {
                std::ofstream(static_cast<const char*>(file)) << g_get_real_time() * 1000 << "\n";
            }),
            g_strdup(mapped_at.c_str()), [](gpointer p, GClosure*) { g_free(p); }, GConnectFlags{});
        flintsearch::window::check_screenshot_view(GTK_WINDOW(window), request);
        std::ofstream(dir_ + "/presented") << "yes";
        gtk_window_present(GTK_WINDOW(window));
        const gint64 deadline = g_get_monotonic_time() + 20 * G_USEC_PER_SEC;
        while (g_get_monotonic_time() < deadline) {
            g_main_context_iteration(nullptr, TRUE);
        }
        std::_Exit(42);
    }

    std::string dir_;
};

TEST_F(ScreenshotViewTest, UnknownViewEndsWithStatus1BeforeThePresent) {
    for (const char* view : {"Search", "", "search ", "SEARCH"}) {
        SCOPED_TRACE(view);
        const std::string expected = std::string("^flintsearch: unknown screenshot view '") + view +
                                     "' \\(known: search\\)\n$";
        EXPECT_EXIT(run_window({view, "s.png", 1920, 1080}), ::testing::ExitedWithCode(1),
                    expected);
        EXPECT_FALSE(::access((dir_ + "/presented").c_str(), F_OK) == 0);
        EXPECT_FALSE(::access((dir_ + "/argv").c_str(), F_OK) == 0);
    }
}

TEST_F(ScreenshotViewTest, MappedWindowIsCapturedAfterTheDelayAndTheProcessEnds) {
    EXPECT_EXIT(run_window({"search", "shots/s.png", 1280, 720}), ::testing::ExitedWithCode(0),
                "^$");
    using namespace std::string_literals;
    EXPECT_EQ(read_file(dir_ + "/argv"),
              "-g\0"
              "0,0 1280x720\0"
              "shots/s.png\0"s);
    const long long mapped = std::stoll(read_file(dir_ + "/mapped-at"));
    const long long ran = std::stoll(read_file(dir_ + "/ran-at"));
    // Real time on both sides; the lower bound is what matters here.
    EXPECT_GE(ran - mapped, 290'000'000LL);
}

TEST_F(ScreenshotViewTest, FailedCaptureEndsWithStatus1AndTheMessage) {
    EXPECT_EXIT(run_window({"search", "s.png", 4294967295u, 1080}), ::testing::ExitedWithCode(1),
                "^flintsearch: screenshot capture failed: width 4294967295 is too large for a "
                "capture \\(at most 2147483647\\)\n$");
}

}  // namespace
