// The resident instance's control socket: a Unix stream socket in the
// runtime directory on which a resident launcher (flintsearch-resident)
// listens, so that `flintsearch` can ask it to show or hide its window
// instead of starting GTK afresh.
//
// One exchange per connection, each message one line:
//   flintsearch -> resident   "toggle"
//   resident    -> flintsearch "ready"
//   flintsearch -> resident   "go"      (the resident toggles now)
// The resident acts only on "go", which flintsearch sends only after it had
// "ready" in time; a start that gave up waiting closes instead, and starts
// the ordinary way. So a slow resident and a fresh launcher never both
// answer one press.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "util/unique_fd.hpp"

namespace flintsearch::util {

inline constexpr std::string_view HANDOVER_TOGGLE = "toggle\n";
inline constexpr std::string_view HANDOVER_READY = "ready\n";
inline constexpr std::string_view HANDOVER_GO = "go\n";

// How long a start waits for a resident, connection and "ready" together.
inline constexpr std::chrono::milliseconds HANDOVER_TIMEOUT{200};

// flintsearch's end of one exchange.
class ResidentLink {
  public:
    // Connects to the socket at path and waits for "ready" to "toggle",
    // within timeout. Nothing when there is no socket, nobody listens (a
    // stale socket), the listener is not this user's (SO_PEERCRED) or does
    // not answer in time.
    static std::optional<ResidentLink> reach(const std::string& path,
                                             std::chrono::milliseconds timeout = HANDOVER_TIMEOUT);

    // Tells the resident to toggle its window.
    void go();

  private:
    explicit ResidentLink(UniqueFd fd) : fd_(std::move(fd)) {}
    UniqueFd fd_;
};

// A listening socket at path, close-on-exec and non-blocking, reachable by
// this user only (mode 0600). A socket already at the path is replaced (the
// caller holds the resident's lock, so it is stale); anything else there is
// left alone and is an error. Nothing on failure, with errno set.
std::optional<UniqueFd> listen_at(const std::string& path);

}  // namespace flintsearch::util
