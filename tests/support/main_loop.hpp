// Pumps the default GLib main context until a condition holds, for tests
// that wait on GTK, timers or workers.
#pragma once

#include <glib.h>

#include <chrono>
#include <functional>

namespace flintsearch::test {

// Runs the loop until condition() is true (true) or the timeout passes
// (false), without busy-waiting when nothing is pending.
inline bool run_until(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        if (!g_main_context_iteration(nullptr, FALSE)) {
            g_usleep(1000);
        }
    }
    return true;
}

}  // namespace flintsearch::test
