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

// Connects on_search_changed to the entry's "changed" signal (not the
// delayed "search-changed": the debounce here is the only delay). The
// handler holds the slot and a reference to the list until the entry is
// destroyed; then a search still waiting in its delay is cancelled.
void connect_search_entry(GtkEditable* entry, GtkListBox* list, client::PendingSearchSlotRef slot);

// The "changed" handler: cancels the pending search; a non-empty text
// starts a new 150 ms delay, an empty one shows the hint row at once and
// makes every dispatched search obsolete.
void on_search_changed(GtkEditable* entry, const client::PendingSearchSlotRef& slot,
                       GtkListBox* list);

}  // namespace flintsearch::window
