// Style providers and live reload against a real display. Runs under the
// harness's private compositor. The library's slots are per thread, so the
// tests share one theme provider and one pair of watchers, in the order
// gtest runs them; every test starts from a missing theme file.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "css_rules.hpp"
#include "flint/gtk/slots.hpp"
#include "flint/gtk/theme.hpp"
#include "flint/report.hpp"
#include "theme_test_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using theme_test::EnvGuard;
using theme_test::parsed;
using theme_test::rules_of;
using theme_test::TempDir;

// Iterates the default main context until cond holds or the deadline
// passes. A short repeating timeout keeps the loop waking up.
bool run_until(const std::function<bool()>& cond, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const guint tick = g_timeout_add(
        5, [](gpointer) { return gboolean(G_SOURCE_CONTINUE); }, nullptr);
    bool ok = cond();
    while (!ok && std::chrono::steady_clock::now() < deadline) {
        g_main_context_iteration(nullptr, TRUE);
        ok = cond();
    }
    g_source_remove(tick);
    return ok;
}

// Lets pending events arrive for a while (for "nothing happens" checks).
void settle(std::chrono::milliseconds span = 1500ms) {
    run_until([] { return false; }, span);
}

void write_file(const fs::path& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

// Aborts the process unless it goes out of scope within the limit, so that a
// load that blocks the main thread fails the test instead of hanging it.
class Watchdog {
  public:
    explicit Watchdog(std::chrono::seconds limit)
        : thread_([this, limit] {
              std::unique_lock lock(mutex_);
              if (!cv_.wait_for(lock, limit, [this] { return done_; })) {
                  std::fprintf(stderr, "watchdog: the main thread is stuck\n");
                  std::abort();
              }
          }) {}
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        cv_.notify_one();
        thread_.join();
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

class ThemeGtk : public ::testing::Test {
  protected:
    void SetUp() override {
        // An empty cache directory: the palette is the default one.
        env_.set("XDG_CACHE_HOME", cache_.str());
        theme_path_ = flint::theme_css_path();
        fs::create_directories(theme_path_.parent_path());
        std::error_code ec;
        fs::remove(theme_path_, ec);
        settle(300ms);
    }

    const std::string generated_ = parsed(flint::theme_css(flint::Palette{}));
    TempDir cache_;
    EnvGuard env_;
    fs::path theme_path_;
};

TEST_F(ThemeGtk, InstallThemeTwiceKeepsOneProviderAndOneWatcher) {
    flint::install_theme();
    GtkCssProvider* provider = flint::theme_provider();
    GFileMonitor* watcher = flint::theme_watcher();
    ASSERT_NE(provider, nullptr);
    ASSERT_NE(watcher, nullptr);
    EXPECT_EQ(rules_of(provider), generated_);

    flint::install_theme();
    EXPECT_EQ(flint::theme_provider(), provider);
    EXPECT_EQ(flint::theme_watcher(), watcher);
}

TEST_F(ThemeGtk, ThemeFileTextIsLoadedUnchangedAndEmptyMeansNoRules) {
    write_file(theme_path_, ".from-file { color: red; }");
    flint::load_theme();
    EXPECT_EQ(rules_of(flint::theme_provider()), parsed(".from-file { color: red; }"));

    write_file(theme_path_, "");
    flint::load_theme();
    EXPECT_EQ(rules_of(flint::theme_provider()), "");

    write_file(theme_path_, "\xFF not text");
    flint::load_theme();
    EXPECT_EQ(rules_of(flint::theme_provider()), generated_) << "non-UTF-8 falls back";
}

TEST_F(ThemeGtk, SetAppCssReplacesTheGeneratorAndReusesItsProvider) {
    flint::set_app_css([] { return std::string(".one { color: red; }"); });
    GtkCssProvider* provider = flint::app_provider();
    GFileMonitor* watcher = flint::app_watcher();
    ASSERT_NE(provider, nullptr);
    ASSERT_NE(watcher, nullptr);
    EXPECT_NE(provider, flint::theme_provider());
    EXPECT_EQ(rules_of(provider), parsed(".one { color: red; }"));

    flint::set_app_css([] { return std::string(".two { color: blue; }"); });
    EXPECT_EQ(flint::app_provider(), provider);
    EXPECT_EQ(flint::app_watcher(), watcher);
    EXPECT_EQ(rules_of(provider), parsed(".two { color: blue; }"));
}

TEST_F(ThemeGtk, AGeneratorMayRegisterItsSuccessorWhileItRuns) {
    int runs = 0;
    flint::set_app_css([&runs] {
        if (runs++ == 0) {
            flint::set_app_css([] { return std::string(".inner { color: green; }"); });
        }
        return std::string(".outer { color: red; }");
    });
    // The inner registration applied first, then the outer text landed.
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(rules_of(flint::app_provider()), parsed(".outer { color: red; }"));
    flint::apply_app_css();
    EXPECT_EQ(rules_of(flint::app_provider()), parsed(".inner { color: green; }"));
}

TEST_F(ThemeGtk, UserCssUsesTheCallersSlot) {
    TempDir dir;
    flint::ProviderSlot slot;
    flint::load_user_css((dir.path() / "missing.css").string(), slot);
    EXPECT_EQ(slot.get(), nullptr) << "missing file, empty slot: no provider";

    const auto file = dir.write("style.css", ".user { color: red; }");
    flint::load_user_css(file.string(), slot);
    GtkCssProvider* provider = slot.get();
    ASSERT_NE(provider, nullptr);
    EXPECT_EQ(rules_of(provider), parsed(".user { color: red; }"));

    fs::remove(file);
    flint::load_user_css(file.string(), slot);
    EXPECT_EQ(slot.get(), provider);
    EXPECT_EQ(rules_of(provider), "") << "missing file empties the provider";
}

// The library's own watchers: theme and application reloads follow the file.
TEST_F(ThemeGtk, WatchersReloadOnWriteRenameAndDelete) {
    flint::install_theme();
    int generated = 0;
    flint::set_app_css([&generated] {
        ++generated;
        return ".app { margin: " + std::to_string(generated) + "px; }";
    });
    settle(300ms);

    int before = generated;
    write_file(theme_path_, ".written { color: red; }");
    EXPECT_TRUE(run_until([&] {
        return rules_of(flint::theme_provider()) == parsed(".written { color: red; }") &&
               generated > before;
    })) << "write";

    before = generated;
    const fs::path temp = theme_path_.parent_path() / ".theme.css.new";
    write_file(temp, ".renamed { color: blue; }");
    fs::rename(temp, theme_path_);
    EXPECT_TRUE(run_until([&] {
        return rules_of(flint::theme_provider()) == parsed(".renamed { color: blue; }") &&
               generated > before;
    })) << "rename onto the file";

    before = generated;
    fs::remove(theme_path_);
    EXPECT_TRUE(run_until([&] {
        return rules_of(flint::theme_provider()) == generated_ && generated > before;
    })) << "delete falls back to the generated stylesheet";

    // Leave the generator harmless for later tests.
    flint::set_app_css([] { return std::string(); });
}

TEST_F(ThemeGtk, OnlyEventsForTheThemeFileRunTheAction) {
    int reloads = 0;
    const auto monitor = flint::watch_theme_file([&reloads] { ++reloads; });
    ASSERT_NE(monitor, nullptr);
    settle(300ms);

    write_file(theme_path_.parent_path() / "other.css", "x");
    fs::remove(theme_path_.parent_path() / "other.css");
    settle();
    EXPECT_EQ(reloads, 0) << "another file in the directory";

    // A rename onto the theme file is one event, so one reload.
    const fs::path temp = theme_path_.parent_path() / "theme.css.tmp";
    write_file(temp, "a {}");
    settle(300ms);
    reloads = 0;
    fs::rename(temp, theme_path_);
    EXPECT_TRUE(run_until([&] { return reloads > 0; }));
    settle(500ms);
    EXPECT_EQ(reloads, 1) << "rename";

    reloads = 0;
    fs::remove(theme_path_);
    EXPECT_TRUE(run_until([&] { return reloads > 0; })) << "delete";
}

TEST_F(ThemeGtk, WatcherCreatesTheDirectoryAndMatchesARelativeThemePath) {
    TempDir work;
    theme_test::CwdGuard cwd(work.path());
    EnvGuard env;
    env.set("XDG_RUNTIME_DIR", "");
    env.set("XDG_CACHE_HOME", "");
    ASSERT_EQ(flint::theme_css_path(), "flint/theme.css");

    int reloads = 0;
    const auto monitor = flint::watch_theme_file([&reloads] { ++reloads; });
    ASSERT_NE(monitor, nullptr);
    EXPECT_TRUE(fs::is_directory(work.path() / "flint"));
    settle(300ms);
    write_file(work.path() / "flint/theme.css", "b {}");
    EXPECT_TRUE(run_until([&] { return reloads > 0; }));
}

// Where other users can write (the /tmp fallbacks), a theme directory the
// launcher creates is its user's alone, and a stylesheet someone else could
// have written is refused with one line, once, while the rest still applies.
TEST_F(ThemeGtk, SharedPlacesGetAPrivateThemeDirectoryAndNoUntrustedStylesheet) {
    std::vector<std::string> said;
    flint::set_reporter([&said](std::string_view line) { said.emplace_back(line); });
    TempDir shared;
    ::chmod(shared.path().c_str(), 01777);
    {
        EnvGuard env;
        env.set("XDG_RUNTIME_DIR", shared.str());
        const mode_t old = ::umask(0);
        const auto monitor = flint::watch_theme_file([] {});
        ::umask(old);
        struct stat st {};
        ASSERT_EQ(::stat((shared.path() / "flint").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700u);
    }

    const fs::path open_dir = shared.path() / "open";
    fs::create_directory(open_dir);
    ::chmod(open_dir.c_str(), 0777);
    const auto user = shared.write("open/style.css", ".planted { color: red; }");
    flint::ProviderSlot slot;
    flint::load_user_css(user.string(), slot);
    flint::load_user_css(user.string(), slot);
    EXPECT_EQ(slot.get(), nullptr);

    write_file(theme_path_, ".planted { color: red; }");
    ::chmod(theme_path_.c_str(), 0666);
    flint::load_theme();
    EXPECT_EQ(rules_of(flint::theme_provider()), generated_) << "the palette's stylesheet instead";

    const std::vector<std::string> expected = {
        "ignoring " + user.string() + ": " + fs::canonical(open_dir).string() +
            " is writable by every user",
        "ignoring " + theme_path_.string() + ": it is writable by every user"};
    EXPECT_EQ(said, expected);
    flint::set_reporter(nullptr);
}

// GTK opens what @import and url() name itself, with blocking reads: a FIFO
// or /dev/zero there would freeze or kill the program. Such references are
// refused with a line each, promptly, and the other rules still apply, in
// the user stylesheet and in the theme file alike.
TEST_F(ThemeGtk, ImportsAndImagesOfFifosAndDevicesAreRefusedAndTheRestApplies) {
    std::vector<std::string> said;
    flint::set_reporter([&said](std::string_view line) { said.emplace_back(line); });
    TempDir dir;
    const std::string fifo = "file://" + fs::canonical(dir.path()).string() + "/fifo";
    ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
    const std::string css = "@import url(\"" + fifo + "\");\n@import \"file:///dev/zero\";\n" +
                            ".kept { color: red; }\n.vetted { background-image: url(\"" + fifo +
                            "\"); }\n";
    const std::string expected_rules =
        parsed(".kept { color: red; }\n.vetted { background-image: none; }\n");
    const auto user = dir.write("style.css", css);
    write_file(theme_path_, css);

    const Watchdog watchdog(std::chrono::seconds(8));
    flint::ProviderSlot slot;
    flint::load_user_css(user.string(), slot);
    flint::install_theme();
    GtkWidget* window = gtk_window_new();
    gtk_widget_add_css_class(window, "vetted");
    gtk_window_present(GTK_WINDOW(window));
    EXPECT_TRUE(run_until([window] { return gtk_widget_get_mapped(window); }));
    settle(300ms);
    gtk_window_destroy(GTK_WINDOW(window));

    EXPECT_EQ(rules_of(slot.get()), expected_rules);
    EXPECT_EQ(rules_of(flint::theme_provider()), expected_rules);
    std::vector<std::string> expected;
    for (const std::string& origin : {user.string(), theme_path_.string()}) {
        expected.push_back("ignoring @import \"" + fifo + "\" in " + origin +
                           ": it is not a regular file");
        expected.push_back("ignoring @import \"file:///dev/zero\" in " + origin +
                           ": it is writable by every user");
        expected.push_back("ignoring url(\"" + fifo + "\") in " + origin +
                           ": it is not a regular file");
    }
    EXPECT_EQ(said, expected);
    flint::set_reporter(nullptr);
}

TEST_F(ThemeGtk, DroppingAMonitorReleasesItsAction) {
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> weak = token;
    {
        auto monitor = flint::watch_theme_file([token] { ++*token; });
        ASSERT_NE(monitor, nullptr);
        token.reset();
        EXPECT_FALSE(weak.expired()) << "the handler owns the action";
    }
    EXPECT_TRUE(weak.expired()) << "released with the monitor";
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // A private runtime directory: the theme file and its watched directory
    // live there, and GTK wants one to open a Wayland display.
    theme_test::TempDir runtime;
    setenv("XDG_RUNTIME_DIR", runtime.str().c_str(), 1);
    gtk_init();
    if (gdk_display_get_default() == nullptr) {
        std::fprintf(stderr, "theme_gtk_test: no display\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
