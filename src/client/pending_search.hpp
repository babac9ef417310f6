// State shared by the entry's change handler and the search timers, owned by
// the GTK main thread (no locking). Created once at start-up.
#pragma once

#include <cstdint>
#include <memory>

namespace flintsearch::client {

struct PendingSearchSlot {
    // GLib source id of the debounce timer that has not fired yet; 0 = none.
    unsigned int timer = 0;
    // Every dispatched search gets the next number. An outcome is rendered
    // only when it is newer than the last one rendered and the entry has not
    // been cleared since it was dispatched.
    std::uint64_t last_dispatched = 0;
    std::uint64_t last_rendered = 0;
    std::uint64_t cleared_after = 0;  // last_dispatched at the latest clear
};

using PendingSearchSlotRef = std::shared_ptr<PendingSearchSlot>;

}  // namespace flintsearch::client
