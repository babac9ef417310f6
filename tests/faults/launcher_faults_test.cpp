// The launcher window, its rows and the theme library against faults from
// outside, under the private compositor: a daemon that dies mid-reply or
// resets, a socket path or runtime directory that is no use, hits with
// hostile text, and a theme file or user stylesheet that breaks while the
// launcher runs.
//
// The program runs as an unprivileged user: when started as root it drops
// to the compositor's user "flinttest" before GTK starts, so a file or
// directory made unreadable with chmod really is unreadable to the code
// under test (root would read it anyway).
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "css_rules.hpp"
#include "flint/gtk/slots.hpp"
#include "flint/gtk/theme.hpp"
#include "flint/text.hpp"
#include "gui_support.hpp"
#include "standin_fixture.hpp"
#include "window/key_handling.hpp"
#include "window/launcher_window.hpp"
#include "window/result_rows.hpp"
#include "window/row_text.hpp"

namespace flintsearch::window {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using flintsearch::testing::StandinDaemon;
using gui_test::children;
using gui_test::message_text;
using gui_test::rows;
using gui_test::run_until;
using gui_test::ScopedEnv;
using theme_test::parsed;
using theme_test::rules_of;

// The process-wide runtime directory set up by main (the theme library's
// watchers are made once per thread and keep watching its flint/).
fs::path g_runtime;

std::string action(const nlohmann::json& a) {
    return a.dump();
}

std::string hits_reply(const std::vector<client::Hit>& hits) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& h : hits) {
        list.push_back(
            {{"title", h.title}, {"path", h.path}, {"snippet", h.snippet}, {"score", h.score}});
    }
    return nlohmann::json{{"type", "hits"}, {"hits", list}}.dump();
}

// An xdg-open stub that stores its one argument, exact bytes, in a file
// beside it (renamed into place, so a reader never sees half of it).
class OpenRecorder {
  public:
    OpenRecorder() : path_env_("PATH", (dir_.path().string() + ":/usr/bin:/bin").c_str()) {
        gui_test::write_script(
            dir_.path() / "xdg-open",
            "#!/bin/sh\nprintf '%s' \"$1\" >\"$(dirname \"$0\")/opened.tmp\"\n"
            "mv \"$(dirname \"$0\")/opened.tmp\" \"$(dirname \"$0\")/opened\"\n");
    }
    // The argument of the last start, waiting for it up to the timeout.
    std::optional<std::string> opened(std::chrono::milliseconds timeout = 5s) {
        run_until([&] { return fs::exists(file()); }, timeout);
        return gui_test::read_file(file());
    }
    void forget() { fs::remove(file()); }

  private:
    fs::path file() const { return dir_.path() / "opened"; }
    gui_test::TempDir dir_;
    ScopedEnv path_env_;
};

// ---------------------------------------------------------------------------
// The whole launcher window against daemon and runtime-directory faults.

class LauncherFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        app_ = gui_test::test_application();
        build_launcher_window(
            app_, LauncherState{std::nullopt, slot_, std::nullopt,
                                g_runtime.parent_path() / "config/flintsearch/style.css"});
        window_ = find_launcher_window(app_);
        ASSERT_NE(window_, nullptr);
        GtkWidget* content = gtk_window_get_child(window_);
        const auto parts = children(content);
        ASSERT_EQ(parts.size(), 2u);
        entry_ = parts[0];
        GtkWidget* child = gtk_scrolled_window_get_child(GTK_SCROLLED_WINDOW(parts[1]));
        if (GTK_IS_VIEWPORT(child)) {
            child = gtk_viewport_get_child(GTK_VIEWPORT(child));
        }
        ASSERT_TRUE(GTK_IS_LIST_BOX(child));
        list_ = GTK_LIST_BOX(child);
        ASSERT_TRUE(run_until([&] { return gtk_widget_get_mapped(GTK_WIDGET(window_)); }));
    }

    void TearDown() override {
        if (GtkWindow* window = find_launcher_window(app_)) {
            gtk_window_destroy(window);
        }
        run_until([&] { return find_launcher_window(app_) == nullptr; }, 5s);
    }

    // Where the launcher's searches go from now on: the daemon socket in
    // this runtime directory.
    void use_runtime(const std::string& dir) {
        slot_->socket_path = flint::join_path(dir, "flintmill.sock");
    }

    // Appends text at the end of the entry, as typing does (one "changed"),
    // then waits for the outcome of the search it starts: the first row,
    // once it is no longer the row that stood there before.
    std::string type(const std::string& text) {
        // Held, so that no new row can take the old one's address.
        const auto before = flint::retain(gtk_list_box_get_row_at_index(list_, 0));
        int position = static_cast<int>(g_utf8_strlen(entry_text().c_str(), -1));
        gtk_editable_insert_text(GTK_EDITABLE(entry_), text.c_str(), -1, &position);
        const bool changed = run_until(
            [&] {
                GtkListBoxRow* now = gtk_list_box_get_row_at_index(list_, 0);
                return now != nullptr && now != before.get();
            },
            15s);
        if (!changed) {
            return "(no new row)";
        }
        GtkListBoxRow* first = gtk_list_box_get_row_at_index(list_, 0);
        if (const auto message = message_text(first)) {
            return *message;
        }
        const std::string* path = hit_path(first);
        return path != nullptr ? "hit " + *path : "(a row without text)";
    }

    std::string entry_text() const { return gtk_editable_get_text(GTK_EDITABLE(entry_)); }

    GtkApplication* app_ = nullptr;
    client::PendingSearchSlotRef slot_ = std::make_shared<client::PendingSearchSlot>();
    GtkWindow* window_ = nullptr;
    GtkWidget* entry_ = nullptr;
    GtkListBox* list_ = nullptr;
};

TEST_F(LauncherFaults, EveryDaemonFaultEndsInItsRowAndTheTypingStays) {
    const std::string reply = hits_reply({{"Menu", "/d/menu.txt", "soup", 0.5f}});
    gui_test::TempDir dir;
    const fs::path blocked = dir.path() / "blocked";
    fs::create_directory(blocked);
    const fs::path plain_file = dir.path() / "file";
    std::ofstream(plain_file) << "x";
    const fs::path socket_dir = dir.path() / "socket-dir";
    fs::create_directories(socket_dir / "flintmill.sock");

    std::vector<std::unique_ptr<StandinDaemon>> daemons;
    const auto daemon = [&](std::vector<std::string> script) {
        daemons.push_back(
            std::make_unique<StandinDaemon>(StandinDaemon::script(std::move(script))));
        EXPECT_TRUE(daemons.back()->running()) << daemons.back()->failure();
        return daemons.back()->dir();
    };
    struct Row {
        const char* name;
        std::function<std::string()> runtime;  // prepares the fault, returns XDG_RUNTIME_DIR
        std::string expect;                    // the first row's text
        bool prefix_only;                      // the decoder's wording follows the prefix
    };
    std::string killed_dir;
    const Row table[] = {
        {"daemon killed mid-reply",
         [&] {
             killed_dir = daemon({action({{"reply", reply}, {"die_after_bytes", 20}})});
             return killed_dir;
         },
         "flintmill not running: ", true},
        {"the killed daemon's stale socket",
         [&] {
             daemons.back()->stop();  // reap it: its listener is gone for good
             return killed_dir;
         },
         "flintmill not running: Connection refused (os error 111)", false},
        {"connection reset with the request unread",
         [&] {
             return daemon({action({{"reset", true}}), action({{"reply", reply}})});
         },
         "flintmill not running: Connection reset by peer (os error 104)", false},
        {"the same daemon answers the next search", [&] { return daemons.back()->dir(); },
         "hit /d/menu.txt", false},
        {"socket path is a directory", [&] { return socket_dir.string(); },
         "flintmill not running: Connection refused (os error 111)", false},
        {"runtime directory is a regular file", [&] { return plain_file.string(); },
         "flintmill not running: Not a directory (os error 20)", false},
        {"runtime directory missing", [&] { return (dir.path() / "gone").string(); },
         "flintmill not running: No such file or directory (os error 2)", false},
        {"runtime directory not searchable",
         [&] {
             ::chmod(blocked.c_str(), 0600);
             return blocked.string();
         },
         "flintmill not running: Permission denied (os error 13)", false},
    };
    std::string typed;
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        use_runtime(row.runtime());
        typed += "a";
        const std::string shown = type("a");
        if (row.prefix_only) {
            EXPECT_TRUE(shown.starts_with(row.expect)) << shown;
            EXPECT_GT(shown.size(), row.expect.size()) << "the decoder's text is missing";
            EXPECT_EQ(shown.find("did not answer"), std::string::npos) << shown;
        } else {
            EXPECT_EQ(shown, row.expect);
        }
        EXPECT_EQ(entry_text(), typed) << "the typing was lost";
        EXPECT_EQ(find_launcher_window(app_), window_) << "the launcher closed";
        EXPECT_EQ(rows(list_).size(), 1u);
    }
    ::chmod(blocked.c_str(), 0700);
}

TEST_F(LauncherFaults, AHostileHitFromTheDaemonIsShownAndOpenedByteForByte) {
    OpenRecorder recorder;
    const std::string path = "/d/\x1b[31mred\n\ttab\x7f\xc2\x85" + std::string(100 * 1024, 'p') +
                             "/<b>not bold</b> &amp;.pdf";
    const client::Hit hit{"T\x1b]0;title\x07\ni\x7f\xc2\x9b", path, "\x1b[2Jsnip\tpet\r\nrest",
                          0.5f};
    StandinDaemon daemon(StandinDaemon::script({action({{"reply", hits_reply({hit})}})}));
    ASSERT_TRUE(daemon.running()) << daemon.failure();
    use_runtime(daemon.dir());

    ASSERT_EQ(type("hostile"), "hit " + path);
    GtkListBoxRow* row = gtk_list_box_get_row_at_index(list_, 0);
    EXPECT_EQ(gtk_list_box_get_selected_row(list_), row);
    const auto parts = children(gtk_list_box_row_get_child(row));
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(gtk_label_get_text(GTK_LABEL(children(parts[0])[1])), hit.title);
    EXPECT_EQ(gtk_label_get_text(GTK_LABEL(parts[1])), label_text(path, Keep::End));
    EXPECT_EQ(gtk_label_get_text(GTK_LABEL(parts[2])), std::string("\x1b[2Jsnip\tpet"));
    // Laid out and drawn: the row gets its size like any other.
    EXPECT_TRUE(run_until([&] { return gtk_widget_get_width(GTK_WIDGET(row)) > 0; }));
    gui_test::run_for(200ms);

    // A click activates the row through the window's own handler.
    g_signal_emit_by_name(list_, "row-activated", row);
    EXPECT_EQ(recorder.opened(), path);
    EXPECT_TRUE(run_until([&] { return find_launcher_window(app_) == nullptr; }))
        << "the launcher stays open after opening a hit";
}

// ---------------------------------------------------------------------------
// Hit rows built from hostile text, in a shown window of their own.

class HostileRows : public ::testing::Test {
  protected:
    void SetUp() override {
        gui_test::test_application();
        window_ = gtk_window_new();
        GtkWidget* scroller = gtk_scrolled_window_new();
        list_ = GTK_LIST_BOX(gtk_list_box_new());
        gtk_list_box_set_selection_mode(list_, GTK_SELECTION_BROWSE);
        gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scroller), GTK_WIDGET(list_));
        gtk_window_set_child(GTK_WINDOW(window_), scroller);
        gtk_window_set_default_size(GTK_WINDOW(window_), 640, 480);
        gtk_window_present(GTK_WINDOW(window_));
    }
    void TearDown() override { gtk_window_destroy(GTK_WINDOW(window_)); }

    GtkWidget* window_ = nullptr;
    GtkListBox* list_ = nullptr;
};

// Words of several lengths, separated by spaces, up to size bytes.
std::string words(std::size_t size) {
    std::string text;
    for (std::size_t i = 0; text.size() < size; ++i) {
        text += std::string(1 + i % 9, static_cast<char>('a' + i % 26)) + ' ';
    }
    text.resize(size);
    return text;
}

TEST_F(HostileRows, ControlCharactersAndHugeTextAreShownAsTextAndOpenedUnchanged) {
    struct Row {
        const char* name;
        client::Hit hit;
        std::string snippet_label;  // empty: no snippet label
    };
    const std::string c1 = "\xc2\x80\xc2\x85\xc2\x9b\xc2\x9f";  // U+0080, U+0085, U+009B, U+009F
    const Row table[] = {
        {"a 100 KB path", {"Long", "/" + std::string(100 * 1024, 'a') + ".txt", "s", 0.5f}, "s"},
        {"newline and tab in the path", {"NL", "/home/u/line\nbreak\tand tab.txt", "s", 0.5f}, "s"},
        {"ESC, DEL and C1 in the path",
         {"Esc", "/home/u/\x1b[1;31mred\x1b[0m\x7f" + c1 + ".pdf", "s", 0.5f},
         "s"},
        {"control characters in title and snippet",
         {"a\x1b[31m\tb\x7f" + c1 + "\nsecond", "/t", "\x1b]8;;file:///x\x07link\x1b\\ \x7f" + c1,
          0.5f},
         "\x1b]8;;file:///x\x07link\x1b\\ \x7f" + c1},
        {"markup is not interpreted",
         {"<b>bold</b> &amp; <span foreground='red'>x</span>", "/m/<i>.txt", "&lt;&#0;", 0.5f},
         "&lt;&#0;"},
        // GTK cannot draw a label of a megabyte (it crashed on one); what
        // a label gets is cut, the stored path stays whole.
        {"a 1 MB title and snippet line",
         {std::string(1 << 20, 't'), "/big", std::string(1 << 20, 's'), 0.5f},
         std::string(1 << 20, 's')},
        {"600 KB of words as a title", {words(600 * 1024), "/words", "s", 0.5f}, "s"},
    };
    // A label shows the text itself, or for a huge one its start (a path:
    // its end) cut on a character with an ellipsis.
    auto shows = [](const char* label, const std::string& text, bool keep_end) {
        const std::string got = label;
        if (got == text) {
            return true;
        }
        const std::string ellipsis = "\u2026";
        return got.size() <= MAX_LABEL_BYTES && text.size() > MAX_LABEL_BYTES &&
               (keep_end ? got.starts_with(ellipsis) && text.ends_with(got.substr(ellipsis.size()))
                         : got.ends_with(ellipsis) &&
                               text.starts_with(got.substr(0, got.size() - ellipsis.size())));
    };
    client::Hits hits;
    for (const auto& row : table) {
        hits.hits.push_back(row.hit);
    }
    render_outcome(list_, client::Response{hits});
    const auto shown = rows(list_);
    ASSERT_EQ(shown.size(), std::size(table));
    // Every row is laid out (Pango measures the text) and drawn.
    EXPECT_TRUE(run_until([&] {
        for (GtkListBoxRow* row : shown) {
            if (!gtk_widget_get_mapped(GTK_WIDGET(row)) ||
                gtk_widget_get_width(GTK_WIDGET(row)) <= 0) {
                return false;
            }
        }
        return true;
    }));
    gui_test::run_for(200ms);

    OpenRecorder recorder;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const Row& row = table[i];
        SCOPED_TRACE(row.name);
        const auto parts = children(gtk_list_box_row_get_child(shown[i]));
        ASSERT_EQ(parts.size(), row.snippet_label.empty() ? 2u : 3u);
        GtkWidget* title = children(parts[0])[1];
        EXPECT_TRUE(shows(gtk_label_get_text(GTK_LABEL(title)), row.hit.title, false));
        EXPECT_FALSE(gtk_label_get_use_markup(GTK_LABEL(title)));
        EXPECT_TRUE(shows(gtk_label_get_text(GTK_LABEL(parts[1])), row.hit.path, true));
        EXPECT_FALSE(gtk_label_get_use_markup(GTK_LABEL(parts[1])));
        if (!row.snippet_label.empty()) {
            EXPECT_TRUE(shows(gtk_label_get_text(GTK_LABEL(parts[2])), row.snippet_label, false));
        }
        ASSERT_NE(hit_path(shown[i]), nullptr);
        EXPECT_EQ(*hit_path(shown[i]), row.hit.path);

        recorder.forget();
        int closes = 0;
        on_row_activated(shown[i], [&closes] { ++closes; });
        EXPECT_EQ(recorder.opened(), row.hit.path);
        EXPECT_EQ(closes, 1);
    }
}

TEST_F(HostileRows, APathTooLongOrWithANulForAnArgumentIsNotOpenedAndTheLauncherStillCloses) {
    OpenRecorder recorder;
    struct Row {
        const char* name;
        std::string path;
    };
    const Row table[] = {
        // Linux takes at most 128 KiB in one argument: the start fails.
        {"a 200 KB path", "/" + std::string(200 * 1024, 'a')},
        // An argument ends at a NUL: the program would get another file.
        {"a NUL in the path", std::string("/home/u/a\0b.pdf", 15)},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        render_outcome(list_, client::Response{client::Hits{{{"t", row.path, "", 0.5f}}}});
        GtkListBoxRow* shown = gtk_list_box_get_row_at_index(list_, 0);
        ASSERT_NE(shown, nullptr);
        int closes = 0;
        on_row_activated(shown, [&closes] { ++closes; });
        EXPECT_EQ(closes, 1);
        EXPECT_EQ(recorder.opened(500ms), std::nullopt);
    }
}

// ---------------------------------------------------------------------------
// The theme file and the user stylesheet breaking while the launcher runs.

void write_file(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class ThemeFileFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        gui_test::test_application();
        ASSERT_EQ(flint::theme_css_path(), (g_runtime / "flint" / "theme.css").string());
        flint::install_theme();
        ASSERT_NE(flint::theme_watcher(), nullptr);
        write_file(theme_, GOOD);
        ASSERT_TRUE(showing(GOOD)) << "setup: the good theme file never loaded";
    }
    void TearDown() override {
        std::error_code ignored;
        ::chmod(theme_.c_str(), 0644);
        fs::remove_all(theme_, ignored);
    }

    // Whether the theme provider comes to hold the text's rules.
    bool showing(const std::string& text) {
        const std::string want = parsed(text);
        return run_until([&] { return rules_of(flint::theme_provider()) == want; }, 10s);
    }

    static constexpr const char* GOOD = ".from-theme-file { color: red; }";
    const std::string generated_ = flint::theme_css(flint::load_palette());
    fs::path theme_ = g_runtime / "flint" / "theme.css";
};

TEST_F(ThemeFileFaults, ABrokenThemeFileFallsBackAndALaterGoodOneIsPickedUp) {
    const fs::path aside = theme_.parent_path() / "theme.css.bak";
    struct Row {
        const char* name;
        std::function<void()> fault;
        std::function<void()> repair;
    };
    const Row table[] = {
        {"deleted", [&] { fs::remove(theme_); }, [&] { write_file(theme_, GOOD); }},
        {"renamed away", [&] { fs::rename(theme_, aside); }, [&] { fs::rename(aside, theme_); }},
        {"made unreadable", [&] { ::chmod(theme_.c_str(), 0000); },
         [&] { ::chmod(theme_.c_str(), 0644); }},
        {"replaced by a directory",
         [&] {
             fs::remove(theme_);
             fs::create_directory(theme_);
         },
         [&] {
             fs::remove(theme_);
             write_file(theme_, GOOD);
         }},
        {"replaced by a FIFO",
         [&] {
             fs::remove(theme_);
             ::mkfifo(theme_.c_str(), 0644);
         },
         [&] {
             fs::remove(theme_);
             write_file(theme_, GOOD);
         }},
        {"grown past the read bound", [&] { fs::resize_file(theme_, flint::MAX_READ_BYTES + 1); },
         [&] { write_file(theme_, GOOD); }},
        {"replaced by invalid UTF-8", [&] { write_file(theme_, std::string(GOOD) + "\xff"); },
         [&] { write_file(theme_, GOOD); }},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        row.fault();
        EXPECT_TRUE(showing(generated_)) << "no fall-back to the generated stylesheet: "
                                         << rules_of(flint::theme_provider()).substr(0, 200);
        row.repair();
        EXPECT_TRUE(showing(GOOD)) << "the good file was not picked up again";
    }
}

TEST(UserStylesheetFaults, InvalidCssKeepsItsGoodRulesAndInvalidUtf8InstallsNothing) {
    gui_test::test_application();
    gui_test::TempDir dir;
    const fs::path file = dir.path() / "style.css";
    const std::string good = ".user-good { color: #00ff00; }";
    struct Row {
        const char* name;
        std::function<void()> write;
        std::string rules;  // what the slot's provider holds afterwards
    };
    const Row table[] = {
        {"invalid CSS around a good rule",
         [&] {
             write_file(file, "}}} garbage ;;\n@@ nonsense;\n.bad { colour: bleu; }\n" + good +
                                  "\n.half { color: ");
         },
         parsed(good)},
        {"a good file", [&] { write_file(file, good); }, parsed(good)},
        {"invalid UTF-8", [&] { write_file(file, good + "/* \xff\xfe */"); }, ""},
        {"a good file again", [&] { write_file(file, good); }, parsed(good)},
        {"a directory",
         [&] {
             fs::remove(file);
             fs::create_directory(file);
         },
         ""},
        {"a FIFO",
         [&] {
             fs::remove(file);
             ::mkfifo(file.c_str(), 0644);
         },
         ""},
    };
    flint::ProviderSlot slot;
    // Invalid UTF-8 before any good file: no provider at all.
    write_file(file, "\xff");
    flint::load_user_css(file.string(), slot);
    EXPECT_EQ(slot.get(), nullptr);
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        row.write();
        flint::load_user_css(file.string(), slot);
        ASSERT_NE(slot.get(), nullptr);
        const std::string held = rules_of(slot.get());
        if (row.rules == parsed(good)) {
            // GTK drops what it cannot parse and keeps the rest.
            EXPECT_NE(held.find(".user-good"), std::string::npos) << held;
            EXPECT_EQ(held.find(".half"), std::string::npos) << held;
        } else {
            EXPECT_EQ(held, row.rules);
        }
    }
}

// Drops root for good, to the compositor's user, before GTK starts.
bool drop_to_compositor_user() {
    if (::geteuid() != 0) {
        return true;
    }
    const passwd* user = ::getpwnam("flinttest");
    if (user == nullptr) {
        std::fprintf(stderr, "launcher_faults_test: run as root, but there is no user flinttest\n");
        return false;
    }
    const uid_t uid = user->pw_uid;
    const gid_t gid = user->pw_gid;
    return ::setgroups(0, nullptr) == 0 && ::setresgid(gid, gid, gid) == 0 &&
           ::setresuid(uid, uid, uid) == 0;
}

}  // namespace
}  // namespace flintsearch::window

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    namespace fs = std::filesystem;
    // The stand-in daemon's script, where the unprivileged user can read it
    // (the checkout may sit in a home directory of mode 0700).
    flintsearch::gui_test::TempDir standin;
    fs::permissions(standin.path(), fs::perms::owner_all | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read |
                                        fs::perms::others_exec);
    const fs::path script = standin.path() / "flintmill_standin.py";
    fs::copy_file(FLINTSEARCH_STANDIN, script);
    fs::permissions(script, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    ::setenv("FLINTSEARCH_STANDIN", script.c_str(), 1);
    // Owned by that user, so that it can remove the copy when it is done.
    if (const passwd* user = ::geteuid() == 0 ? ::getpwnam("flinttest") : nullptr) {
        if (::chown(standin.path().c_str(), user->pw_uid, user->pw_gid) != 0 ||
            ::chown(script.c_str(), user->pw_uid, user->pw_gid) != 0) {
            return 1;
        }
    }
    if (!flintsearch::window::drop_to_compositor_user()) {
        return 1;
    }
    // Everything the launcher reads or writes lives in one private tree:
    // runtime directory (pid file, flint/theme.css), configuration, cache
    // (no palette: the defaults), home.
    flintsearch::gui_test::TempDir root;
    flintsearch::window::g_runtime = root.path() / "run";
    for (const char* name : {"run", "config", "cache", "home"}) {
        fs::create_directories(root.path() / name);
    }
    fs::permissions(flintsearch::window::g_runtime, fs::perms::owner_all);
    ::setenv("XDG_RUNTIME_DIR", flintsearch::window::g_runtime.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root.path() / "config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (root.path() / "cache").c_str(), 1);
    ::setenv("HOME", (root.path() / "home").c_str(), 1);
    ::setenv("GSETTINGS_BACKEND", "memory", 1);
    return RUN_ALL_TESTS();
}
