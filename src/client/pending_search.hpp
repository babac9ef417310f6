// The search state shared between the entry's change handler, the debounce
// timer and the outcome polls, and the channel that carries one outcome from
// a worker thread back to the main loop. Nothing here needs GTK.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "client/socket_client.hpp"
#include "util/result.hpp"
#include "wire/protocol.hpp"

namespace flintsearch::client {

// What one dispatched search yields: the daemon's reply or the failure of
// the exchange.
using Outcome = Result<Response, ClientError>;

// Numbering of dispatched searches. Outcomes can arrive in any order (a slow
// reply to an old query after a fast reply to a newer one), so each search
// gets the next number and only an outcome newer than the last rendered one,
// dispatched after the latest clear of the entry, may replace the list.
struct SearchSequence {
    std::uint64_t last_dispatched = 0;
    std::uint64_t last_rendered = 0;
    std::uint64_t cleared_at = 0;  // last_dispatched when the entry was last emptied

    // Number for a search that is about to be dispatched.
    std::uint64_t dispatch() { return ++last_dispatched; }

    // The entry was emptied: everything dispatched so far is obsolete.
    void clear() { cleared_at = last_dispatched; }

    // Whether the outcome of search number `search` should be rendered.
    bool should_render(std::uint64_t search) const {
        return search > last_rendered && search > cleared_at;
    }

    // Decides for an arrived outcome and records a render.
    bool accept(std::uint64_t search) {
        if (!should_render(search)) {
            return false;
        }
        last_rendered = search;
        return true;
    }
};

// Owned by the GTK main thread (no locking); start-up creates one and every
// window of the process shares it.
struct PendingSearchSlot {
    // GLib source id of the debounce timer that has not fired yet; 0 = none.
    unsigned int timer = 0;
    SearchSequence sequence{};
    // Where and within which bounds every search dispatched through this
    // slot goes, copied into its worker: the daemon's socket as resolved at
    // start, and the exchange limits (the launcher keeps the defaults, 30 s
    // and 64 MiB).
    std::string socket_path{};
    ExchangeLimits exchange_limits{};
};

using PendingSearchSlotRef = std::shared_ptr<PendingSearchSlot>;

// A thread-safe channel that carries at most one value. Shared (through a
// shared_ptr) by one sending thread and one receiving thread. send() never
// blocks on the receiver; try_receive() never blocks on the sender beyond
// the short critical section.
template <class T>
class OneValueChannel {
  public:
    enum class State { Empty, Value, Closed };

    // Stores the value unless one was sent already or the channel is closed;
    // returns whether it was stored. Closes the channel either way.
    bool send(T value) {
        std::lock_guard lock(mutex_);
        if (closed_) {
            return false;
        }
        value_.emplace(std::move(value));
        closed_ = true;
        return true;
    }

    // The sender is gone without sending (or the receiver gave up).
    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }

    // Takes the value if it has arrived. Closed means the channel is closed
    // and holds no value (it never will).
    State try_receive(std::optional<T>& out) {
        std::lock_guard lock(mutex_);
        if (value_) {
            out.emplace(std::move(*value_));
            value_.reset();
            return State::Value;
        }
        return closed_ ? State::Closed : State::Empty;
    }

  private:
    std::mutex mutex_;
    std::optional<T> value_;
    bool closed_ = false;
};

using OutcomeChannel = OneValueChannel<Outcome>;

}  // namespace flintsearch::client
