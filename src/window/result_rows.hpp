// The rows of the result list: one per hit, or a single message row. Main
// thread only. Rows are owned by the list; the functions that build a row
// return it floating, for the caller to append.
#pragma once

#include <gtk/gtk.h>

#include <string>
#include <string_view>

#include "client/pending_search.hpp"
#include "wire/protocol.hpp"

namespace flintsearch::window {

// The row-data key under which a hit row keeps its own copy of the hit's
// path (a std::string*, freed with the row). Message rows carry none.
inline constexpr const char* HIT_PATH_KEY = "hit_path";

// Replaces every row of the list with the outcome: one row per hit (the
// first selected), "No results", "Error: " + message, or
// "flintmill not running: " + the client error's text. Status and ok
// replies leave the list empty.
void render_outcome(GtkListBox* list, client::Outcome outcome);

// Removes every row; each row's path copy goes with it, and the scroller
// around the list goes back to the top.
void clear_list(GtkListBox* list);

// Scrolls the list's scroller just enough that the whole row is in view: a
// row below the view ends at its bottom edge, one above starts at its top
// edge. At once, with no animation; keyboard focus stays where it is.
void scroll_row_into_view(GtkListBox* list, GtkListBoxRow* row);

// Keeps the selected row in view whenever the scroller's view changes size
// or the rows under it change (the list grows, shrinks or is replaced).
void keep_selection_in_view(GtkListBox* list);

// A plain row that can be neither selected nor activated, holding one
// centred "hit-muted" label with the text.
GtkWidget* message_row(std::string_view text);

// A row showing one hit: icon, title, score, path and snippet line.
GtkWidget* hit_row(const client::Hit& hit);

// The path a hit row carries, or nullptr for a message row. Owned by the row.
const std::string* hit_path(GtkListBoxRow* row);

}  // namespace flintsearch::window
