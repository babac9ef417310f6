#include "client/search_worker.hpp"

#include <utility>

namespace flintsearch::client {

void search_worker(std::string text, std::shared_ptr<OutcomeChannel> channel,
                   std::string socket_path, ExchangeLimits limits) {
    // A worker that ends without an outcome (say, out of memory) closes its
    // channel, so the poll stops instead of running forever.
    struct CloseOnExit {
        OutcomeChannel& channel;
        ~CloseOnExit() { channel.close(); }
    } close_on_exit{*channel};
    try {
        channel->send(send_request_to(socket_path, Query{std::move(text), RESULT_LIMIT}, limits));
    } catch (...) {
        // Nothing may escape a detached thread (std::terminate); the poll
        // sees the closed channel.
    }
}

}  // namespace flintsearch::client
