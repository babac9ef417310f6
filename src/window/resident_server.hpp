// The resident instance's end of the control socket (util/handover.hpp):
// accepts connections on the main loop and runs the toggle for each
// exchange that ends in "go". Main thread only.
//
// Owns the listening socket, every open connection and their main-loop
// sources; destroying the server closes and removes them all (the socket's
// name in the file system is the caller's to remove).
#pragma once

#include <glib.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <string>

#include "util/unique_fd.hpp"

namespace flintsearch::window {

class ResidentServer {
  public:
    // At most this many exchanges at once, each ended after this long:
    // connections are the user's own, but no peer can pin the main loop's
    // resources. While this many are open, no more are accepted: the
    // others wait in the listen queue for their turn.
    static constexpr std::size_t MAX_CONNECTIONS = 4;
    static constexpr std::chrono::milliseconds EXCHANGE_LIMIT{1000};

    ResidentServer(util::UniqueFd listener, std::function<void()> toggle);
    ResidentServer(const ResidentServer&) = delete;
    ResidentServer& operator=(const ResidentServer&) = delete;
    ~ResidentServer();

  private:
    struct Connection;
    static gboolean on_listener(gint fd, GIOCondition condition, gpointer self);
    static gboolean on_readable(gint fd, GIOCondition condition, gpointer connection);
    static gboolean on_expired(gpointer connection);
    void accept_one();
    void finish(Connection* connection);

    util::UniqueFd listener_;
    std::function<void()> toggle_;
    guint listener_source_ = 0;
    std::list<std::unique_ptr<Connection>> connections_;
};

}  // namespace flintsearch::window
