// The daemon's socket: one request line in, one reply line out, then close.
//
// The main thread runs one poll() loop over the listening socket, the
// connections still sending their line, and a stop descriptor. Nothing
// there blocks: a peer that is not this user is closed at once; a line
// longer than 64 KiB, or one not finished within a few seconds, is answered
// with an error (when the peer still reads) and closed. Status, reindex and
// refusals are answered from the loop; queries go to a few query threads,
// each with its own index reader, so a query never waits for indexing (the
// writer is another thread) nor for another client.
//
// Idle is idle: with no connection open, poll() has no time-out.
//
// Ownership: the Server owns the listening socket, every connection until
// it is answered, and its query threads (joined by run() before it returns).
#pragma once

#include <cstddef>
#include <functional>

#include "util/unique_fd.hpp"
#include "wire/protocol.hpp"

namespace flintmill::service {

struct Handlers {
    // Makes one query thread's handler; called once on each query thread,
    // so the handler can own that thread's index reader.
    std::function<std::function<flintsearch::wire::Response(const flintsearch::wire::Query&)>()>
        make_query;
    std::function<flintsearch::wire::Response()> status;  // on the loop: must not block
    std::function<void()> reindex;                        // on the loop: must not block
};

struct ServerLimits {
    int line_seconds = 3;   // to send the whole request line
    int reply_seconds = 5;  // for a query reply to be taken
    std::size_t query_threads = 2;
    std::size_t max_connections = 256;  // open at once; more wait in the backlog
    std::size_t max_queued = 64;        // queries waiting for a thread
};

// Serves on listener (a listening Unix stream socket) until stop_fd is
// readable.
void serve(flintsearch::util::UniqueFd listener, int stop_fd, Handlers handlers,
           ServerLimits limits = {});

}  // namespace flintmill::service
