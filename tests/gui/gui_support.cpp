#include "gui_support.hpp"

#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "window/result_rows.hpp"

namespace flintsearch::gui_test {

GtkApplication* test_application() {
    static GtkApplication* app = [] {
        GtkApplication* created =
            gtk_application_new("org.flintsearch.GuiTest", G_APPLICATION_NON_UNIQUE);
        GError* error = nullptr;
        if (!g_application_register(G_APPLICATION(created), nullptr, &error)) {
            const std::string message = error != nullptr ? error->message : "unknown error";
            g_clear_error(&error);
            throw std::runtime_error("cannot register the test application: " + message);
        }
        // Windows come and go between tests; the application stays.
        g_application_hold(G_APPLICATION(created));
        return created;
    }();
    return app;
}

void run_for(std::chrono::milliseconds duration) {
    const auto deadline = std::chrono::steady_clock::now() + duration;
    run_until([&] { return std::chrono::steady_clock::now() >= deadline; }, duration + 1s);
}

std::vector<GtkWidget*> children(GtkWidget* widget) {
    std::vector<GtkWidget*> result;
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child != nullptr;
         child = gtk_widget_get_next_sibling(child)) {
        result.push_back(child);
    }
    return result;
}

std::vector<GtkListBoxRow*> rows(GtkListBox* list) {
    std::vector<GtkListBoxRow*> result;
    for (int i = 0; GtkListBoxRow* row = gtk_list_box_get_row_at_index(list, i); ++i) {
        result.push_back(row);
    }
    return result;
}

std::optional<std::string> message_text(GtkListBoxRow* row) {
    GtkWidget* child = gtk_list_box_row_get_child(row);
    if (!GTK_IS_LABEL(child)) {
        return std::nullopt;
    }
    return std::string(gtk_label_get_text(GTK_LABEL(child)));
}

std::string shown_rows(GtkListBox* list) {
    std::string text;
    for (GtkListBoxRow* row : rows(list)) {
        if (!text.empty()) {
            text += ',';
        }
        if (const std::string* path = window::hit_path(row)) {
            text += *path;
        } else {
            text += message_text(row).value_or("?");
        }
    }
    return text;
}

std::optional<std::string> read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_script(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path) << text;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

}  // namespace flintsearch::gui_test
