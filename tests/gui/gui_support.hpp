// Shared pieces of the GTK-level tests: the GTK application every test
// builds its window in, a main-loop runner, a temporary directory and
// environment guards. Main thread only.
#pragma once

#include <gtk/gtk.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "main_loop.hpp"
#include "scoped_env.hpp"
#include "temp_dir.hpp"

namespace flintsearch::gui_test {

using namespace std::chrono_literals;

// A registered, non-unique application (GTK initialised by its startup),
// created on first use and kept for the whole test program.
GtkApplication* test_application();

using test::run_until;  // the shared main-loop pump

// Iterates the default main context for the given time.
void run_for(std::chrono::milliseconds duration);

using test::TempDir;

using flintsearch::test::ScopedEnv;

// The children of a widget, in order.
std::vector<GtkWidget*> children(GtkWidget* widget);

// The rows of a list box, in order.
std::vector<GtkListBoxRow*> rows(GtkListBox* list);

// Text of the row's label when the row is a message row (its child is a
// label), nullopt otherwise.
std::optional<std::string> message_text(GtkListBoxRow* row);

// What a result list shows: the single row's message text, or the hit paths
// joined by ",".
std::string shown_rows(GtkListBox* list);

// Whole contents of a file, or nullopt when it cannot be read.
std::optional<std::string> read_file(const std::filesystem::path& path);

// Writes an executable shell script.
void write_script(const std::filesystem::path& path, const std::string& text);

}  // namespace flintsearch::gui_test
