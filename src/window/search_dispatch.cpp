#include "window/search_dispatch.hpp"

#include <exception>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "client/search_worker.hpp"
#include "flint/gtk/ref.hpp"
#include "flint/text.hpp"
#include "window/result_rows.hpp"
#include "window/row_text.hpp"
#include "window/signal.hpp"

namespace flintsearch::window {
namespace {

using client::OutcomeChannel;
using client::PendingSearchSlotRef;

// Owned by the 150 ms one-shot timer (freed when the timer is removed,
// whether it fired or was cancelled).
struct PendingSearch {
    std::string text;
    PendingSearchSlotRef slot;
    flint::Ref<GtkListBox> list;
};

// Owned by the 15 ms poll timer: the receiving end of one search's channel.
struct OutcomePoll {
    std::uint64_t search = 0;
    std::shared_ptr<OutcomeChannel> channel;
    PendingSearchSlotRef slot;
    flint::Ref<GtkListBox> list;
};

// What the entry's "changed" handler holds. When the entry goes (window
// destroyed), a search still waiting in its delay would only ask the
// daemon for a list nobody sees, so it is cancelled.
struct EntryHandler {
    PendingSearchSlotRef slot;
    flint::Ref<GtkListBox> list;

    EntryHandler(PendingSearchSlotRef s, flint::Ref<GtkListBox> l)
        : slot(std::move(s)), list(std::move(l)) {}
    EntryHandler(EntryHandler&&) = default;
    EntryHandler(const EntryHandler&) = delete;
    EntryHandler& operator=(const EntryHandler&) = delete;
    EntryHandler& operator=(EntryHandler&&) = delete;
    ~EntryHandler() {
        if (slot && slot->timer != 0) {
            g_source_remove(slot->timer);
            slot->timer = 0;
        }
    }

    void operator()(GtkEditable* entry) const { on_search_changed(entry, slot, list.get()); }
};

void delete_pending(gpointer data) {
    delete static_cast<PendingSearch*>(data);
}
void delete_poll(gpointer data) {
    delete static_cast<OutcomePoll*>(data);
}

gboolean poll_outcome(gpointer data) {
    auto* poll = static_cast<OutcomePoll*>(data);
    std::optional<client::Outcome> outcome;
    switch (poll->channel->try_receive(outcome)) {
        case OutcomeChannel::State::Empty:
            return G_SOURCE_CONTINUE;
        case OutcomeChannel::State::Closed:
            return G_SOURCE_REMOVE;  // the worker ended without an outcome
        case OutcomeChannel::State::Value:
            break;
    }
    // An outcome older than the one on screen, or from before the entry was
    // last cleared, would put stale results back; it is dropped. So is one
    // for a list whose window has gone.
    if (poll->slot->sequence.accept(poll->search) &&
        gtk_widget_get_root(GTK_WIDGET(poll->list.get())) != nullptr) {
        try {
            render_outcome(poll->list.get(), std::move(*outcome));
        } catch (const std::exception& e) {
            g_warning("flintsearch: rendering failed: %s", e.what());
        }
    }
    return G_SOURCE_REMOVE;
}

gboolean start_search(gpointer data) {
    auto* pending = static_cast<PendingSearch*>(data);
    // This timer ends on its own now; the slot must no longer name it.
    pending->slot->timer = 0;
    try {
        auto poll = std::make_unique<OutcomePoll>();
        poll->search = pending->slot->sequence.dispatch();
        poll->channel = std::make_shared<OutcomeChannel>();
        poll->slot = pending->slot;
        poll->list = flint::retain(pending->list.get());
        try {
            std::thread(client::search_worker, pending->text, poll->channel,
                        pending->slot->socket_path, pending->slot->exchange_limits)
                .detach();
        } catch (const std::system_error& e) {
            // No thread: the failure reaches the list like any other failed
            // exchange, through the same poll.
            poll->channel->send(
                unexpected(client::ClientError{flint::os_error_text(e.code().value())}));
        }
        g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(POLL_PERIOD.count()),
                           poll_outcome, poll.release(), delete_poll);
    } catch (const std::exception& e) {
        g_warning("flintsearch: cannot start a search: %s", e.what());
    }
    return G_SOURCE_REMOVE;
}

}  // namespace

void connect_search_entry(GtkEditable* entry, GtkListBox* list, PendingSearchSlotRef slot) {
    g_return_if_fail(GTK_IS_EDITABLE(entry));
    g_return_if_fail(GTK_IS_LIST_BOX(list));
    if (GtkEditable* text = gtk_editable_get_delegate(entry);
        text != nullptr && GTK_IS_TEXT(text)) {
        gtk_text_set_max_length(GTK_TEXT(text), MAX_QUERY_CHARS);
    }
    connect<void(GtkEditable*)>(entry, "changed",
                                EntryHandler(std::move(slot), flint::retain(list)));
}

void on_search_changed(GtkEditable* entry, const PendingSearchSlotRef& slot, GtkListBox* list) {
    // The whole text, untrimmed (a lone space is a query), up to
    // MAX_QUERY_CHARS characters; GTK's text is always UTF-8.
    const char* whole = gtk_editable_get_text(entry);
    const char* end = whole;
    for (int n = 0; n < MAX_QUERY_CHARS && *end != '\0'; ++n) {
        end = g_utf8_next_char(end);
    }
    const std::string text(whole, end);
    if (slot->timer != 0) {
        g_source_remove(slot->timer);
        slot->timer = 0;
    }
    if (!text.empty()) {
        auto* pending = new PendingSearch{text, slot, flint::retain(list)};
        slot->timer =
            g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(DEBOUNCE_DELAY.count()),
                               start_search, pending, delete_pending);
        return;
    }
    slot->sequence.clear();
    clear_list(list);
    gtk_list_box_append(list, message_row(HINT_TEXT));
}

}  // namespace flintsearch::window
