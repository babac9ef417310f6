#include "window/search_dispatch.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "gui_support.hpp"
#include "window/result_rows.hpp"
#include "window/row_text.hpp"

namespace flintsearch::client {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string hits_reply(const std::string& path) {
    return nlohmann::json{
        {"type", "hits"},
        {"hits", {{{"title", "T"}, {"path", path}, {"snippet", ""}, {"score", 0.5}}}}}
        .dump();
}

// An entry and a result list in a window (not shown), wired as the launcher
// wires them, and the stand-in daemon on the socket in a private runtime
// directory.
class SearchDispatch : public ::testing::Test {
  protected:
    void SetUp() override {
        gui_test::test_application();
        window_ = gtk_window_new();
        g_object_ref_sink(window_);
        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        entry_ = gtk_search_entry_new();
        list_ = GTK_LIST_BOX(gtk_list_box_new());
        gtk_box_append(GTK_BOX(box), entry_);
        gtk_box_append(GTK_BOX(box), GTK_WIDGET(list_));
        gtk_window_set_child(GTK_WINDOW(window_), box);
        gtk_list_box_append(list_, window::message_row(window::HINT_TEXT));
        window::connect_search_entry(GTK_EDITABLE(entry_), list_, slot_);
    }

    void TearDown() override {
        if (window_ != nullptr) {
            gtk_window_destroy(GTK_WINDOW(window_));
            g_object_unref(window_);
        }
        if (daemon_ > 0) {
            kill(daemon_, SIGTERM);
            waitpid(daemon_, nullptr, 0);
        }
    }

    // Starts the stand-in daemon; each connection takes the next action.
    void start_daemon(const std::vector<nlohmann::json>& actions) {
        {
            std::ofstream script(dir_.path() / "script.jsonl");
            for (const auto& action : actions) {
                script << action.dump() << '\n';
            }
        }
        const std::string socket = (dir_.path() / "flintmill.sock").string();
        const std::string script = (dir_.path() / "script.jsonl").string();
        const std::string log = (dir_.path() / "log").string();
        const std::string ready = (dir_.path() / "ready").string();
        const char* argv[] = {"python3",      FLINTSEARCH_STANDIN, "--socket", socket.c_str(),
                              "--script",     script.c_str(),      "--log",    log.c_str(),
                              "--ready-file", ready.c_str(),       nullptr};
        GError* error = nullptr;
        ASSERT_TRUE(g_spawn_async(nullptr, const_cast<char**>(argv), nullptr,
                                  GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD),
                                  nullptr, nullptr, &daemon_, &error))
            << (error != nullptr ? error->message : "");
        ASSERT_TRUE(gui_test::run_until([&] { return std::filesystem::exists(ready); }, 10s))
            << "the stand-in daemon did not come up";
    }

    // The queries the daemon received so far, in order.
    std::vector<std::string> queries() {
        std::vector<std::string> result;
        std::istringstream lines(gui_test::read_file(dir_.path() / "log").value_or(""));
        for (std::string line; std::getline(lines, line);) {
            const auto request = nlohmann::json::parse(line);
            EXPECT_EQ(request.at("type"), "query");
            EXPECT_EQ(request.at("limit"), 10);
            result.push_back(request.at("query").get<std::string>());
        }
        return result;
    }

    void type(const char* text) { gtk_editable_set_text(GTK_EDITABLE(entry_), text); }

    std::string shown() { return gui_test::shown_rows(list_); }

    gui_test::TempDir dir_;
    PendingSearchSlotRef slot_ = std::make_shared<PendingSearchSlot>(
        PendingSearchSlot{.socket_path = (dir_.path() / "flintmill.sock").string()});
    GtkWidget* window_ = nullptr;
    GtkWidget* entry_ = nullptr;
    GtkListBox* list_ = nullptr;
    GPid daemon_ = 0;
};

TEST_F(SearchDispatch, QuickChangesSendOneRequestAfterThePause) {
    start_daemon({{{"reply", hits_reply("/found")}}});
    type("a");
    gui_test::run_for(30ms);
    type("ab");
    gui_test::run_for(30ms);
    type("abc");
    const auto last_change = Clock::now();
    ASSERT_TRUE(gui_test::run_until([&] { return !queries().empty(); }));
    // Timers never fire early: the request left at least 150 ms after the
    // last change.
    EXPECT_GE(Clock::now() - last_change, 150ms);
    ASSERT_TRUE(gui_test::run_until([&] { return shown() == "/found"; })) << shown();
    gui_test::run_for(300ms);
    EXPECT_EQ(queries(), std::vector<std::string>{"abc"});
    EXPECT_EQ(gtk_list_box_get_selected_row(list_), gtk_list_box_get_row_at_index(list_, 0));
}

TEST_F(SearchDispatch, TextIsSentUntrimmed) {
    start_daemon({{{"reply", hits_reply("/space")}}});
    type(" ");
    ASSERT_TRUE(gui_test::run_until([&] { return shown() == "/space"; })) << shown();
    EXPECT_EQ(queries(), std::vector<std::string>{" "});
}

TEST_F(SearchDispatch, ALongPasteIsCutToTheLongestQuery) {
    start_daemon({{{"reply", hits_reply("/cut")}}});
    std::string word;
    for (int i = 0; i < window::MAX_QUERY_CHARS; ++i) {
        word += "\u00e9";  // two bytes: the cut counts characters
    }
    // 10 MB, as pasted; the entry keeps the first MAX_QUERY_CHARS.
    const std::string pasted = word + std::string(10'000'000, 'x');
    int at = 0;
    gtk_editable_insert_text(GTK_EDITABLE(entry_), pasted.c_str(), -1, &at);
    EXPECT_TRUE(gtk_editable_get_text(GTK_EDITABLE(entry_)) == word);
    ASSERT_TRUE(gui_test::run_until([&] { return shown() == "/cut"; })) << shown();
    EXPECT_TRUE(queries() == std::vector<std::string>{word});

    // Text given to an entry without the bound is sent cut as well.
    GtkWidget* plain = gtk_search_entry_new();
    g_object_ref_sink(plain);
    gtk_editable_set_text(GTK_EDITABLE(plain), (word + "tail").c_str());
    window::on_search_changed(GTK_EDITABLE(plain), slot_, list_);
    ASSERT_TRUE(gui_test::run_until([&] { return queries().size() == 2; }));
    EXPECT_TRUE(queries().back() == word);
    g_object_unref(plain);
}

TEST_F(SearchDispatch, ClearingWithinTheDelaySendsNothingAndShowsTheHint) {
    start_daemon({{{"reply", hits_reply("/never")}}});
    window::render_outcome(list_, Response{Hits{{Hit{"t", "/old", "", 1}}}});
    type("a");
    gui_test::run_for(50ms);
    type("");
    EXPECT_EQ(shown(), std::string(window::HINT_TEXT));  // at once
    gui_test::run_for(400ms);
    EXPECT_TRUE(queries().empty());
    EXPECT_EQ(shown(), std::string(window::HINT_TEXT));
    EXPECT_EQ(slot_->timer, 0u);
}

TEST_F(SearchDispatch, SlowReplyToAnOlderQueryDoesNotReplaceANewerOne) {
    start_daemon(
        {{{"reply", hits_reply("/first")}, {"delay_ms", 700}}, {{"reply", hits_reply("/second")}}});
    type("first");
    ASSERT_TRUE(gui_test::run_until([&] { return queries().size() == 1; }));
    type("second");
    ASSERT_TRUE(gui_test::run_until([&] { return shown() == "/second"; })) << shown();
    // Long enough for the first reply to arrive and be dropped.
    gui_test::run_for(1200ms);
    EXPECT_EQ(shown(), "/second");
    EXPECT_EQ(queries(), (std::vector<std::string>{"first", "second"}));
}

TEST_F(SearchDispatch, ClearingAfterDispatchKeepsTheHint) {
    start_daemon({{{"reply", hits_reply("/late")}, {"delay_ms", 300}}});
    type("x");
    ASSERT_TRUE(gui_test::run_until([&] { return queries().size() == 1; }));
    type("");
    EXPECT_EQ(shown(), std::string(window::HINT_TEXT));
    gui_test::run_for(900ms);
    EXPECT_EQ(shown(), std::string(window::HINT_TEXT));
    // A new search after the clear renders as usual.
    type("y");
    ASSERT_TRUE(gui_test::run_until([&] { return shown() == "/late"; })) << shown();
}

TEST_F(SearchDispatch, NoDaemonShowsTheClientError) {
    type("x");
    ASSERT_TRUE(gui_test::run_until([&] { return shown() != std::string(window::HINT_TEXT); }));
    EXPECT_EQ(shown(), "flintmill not running: No such file or directory (os error 2)");
}

TEST_F(SearchDispatch, DestroyingTheEntryCancelsAPendingSearch) {
    start_daemon({{{"reply", hits_reply("/never")}}});
    type("abc");
    gtk_window_destroy(GTK_WINDOW(window_));
    g_object_unref(window_);
    window_ = nullptr;
    EXPECT_EQ(slot_->timer, 0u);
    gui_test::run_for(400ms);
    EXPECT_TRUE(queries().empty());
}

}  // namespace
}  // namespace flintsearch::client
