// Search dispatch: debounces the search entry, runs each exchange with the
// daemon on a worker thread of its own (client::search_worker), and brings the outcome back to the
// main loop for the result list.
//
// Everything here runs on the GTK main thread, which owns the
// PendingSearchSlot and the widgets. A worker owns its copy of the text and
// the sending end of its channel, and touches nothing else.
#pragma once

#include <gtk/gtk.h>

#include <chrono>

#include "client/pending_search.hpp"

namespace flintsearch::window {

inline constexpr std::chrono::milliseconds DEBOUNCE_DELAY{150};
inline constexpr std::chrono::milliseconds POLL_PERIOD{15};

// The most characters a query holds: no search needs more, and a pasted
// megabyte would otherwise cost the entry's layout a main-loop iteration of
// 50 ms and more (149 ms for 10 MB) on every change, and the daemon a
// request line as long. The entry takes no more; a longer text given to it
// some other way is sent cut to this length.
inline constexpr int MAX_QUERY_CHARS = 1000;

// Connects on_search_changed to the entry's "changed" signal (not the
// delayed "search-changed": the debounce here is the only delay). The
// handler holds the slot and a reference to the list until the entry is
// destroyed; then a search still waiting in its delay is cancelled. The
// entry (a GtkEditable with a GtkText delegate, as GtkSearchEntry and
// GtkEntry are) takes at most MAX_QUERY_CHARS characters from then on.
void connect_search_entry(GtkEditable* entry, GtkListBox* list, client::PendingSearchSlotRef slot);

// The "changed" handler: cancels the pending search; a non-empty text
// (its first MAX_QUERY_CHARS characters) starts a new 150 ms delay, an empty one shows the hint row
// at once and makes every dispatched search obsolete.
void on_search_changed(GtkEditable* entry, const client::PendingSearchSlotRef& slot,
                       GtkListBox* list);

}  // namespace flintsearch::window
