// Search dispatch: debounces the search entry, runs each exchange with the
// daemon on a worker thread of its own, and brings the outcome back to the
// main loop for the result list.
//
// Everything but search_worker runs on the GTK main thread, which owns the
// PendingSearchSlot and the widgets. A worker owns its copy of the text and
// the sending end of its channel, and touches nothing else.
#pragma once

#include <gtk/gtk.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "client/pending_search.hpp"

namespace flintsearch::client {

inline constexpr std::chrono::milliseconds DEBOUNCE_DELAY{150};
inline constexpr std::chrono::milliseconds POLL_PERIOD{15};
inline constexpr std::uint64_t RESULT_LIMIT = 10;

// Connects on_search_changed to the entry's "changed" signal (not the
// delayed "search-changed": the debounce here is the only delay). The
// handler holds the slot and a reference to the list until the entry is
// destroyed; then a search still waiting in its delay is cancelled.
void connect_search_entry(GtkEditable* entry, GtkListBox* list, PendingSearchSlotRef slot);

// The "changed" handler: cancels the pending search; a non-empty text
// starts a new 150 ms delay, an empty one shows the hint row at once and
// makes every dispatched search obsolete.
void on_search_changed(GtkEditable* entry, const PendingSearchSlotRef& slot, GtkListBox* list);

// The body of a worker thread: one query with limit 10 to the daemon at
// socket_path(), within `limits`, its outcome sent into the channel. Closes
// the channel if it ends without an outcome.
void search_worker(std::string text, std::shared_ptr<OutcomeChannel> channel,
                   ExchangeLimits limits = {});

}  // namespace flintsearch::client
