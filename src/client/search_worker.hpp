// The body of the worker thread that carries one dispatched search to the
// daemon. GTK-free: the window's search dispatch starts one detached worker
// per search and polls its channel from the main loop.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "client/pending_search.hpp"
#include "client/socket_client.hpp"

namespace flintsearch::client {

// The "limit" of every query request.
inline constexpr std::uint64_t RESULT_LIMIT = 10;

// One query with limit 10 to the daemon listening at socket_path, within
// `limits`, its outcome sent into the channel. Closes the channel if it ends
// without an outcome. Owns its arguments; touches nothing else (not even
// the environment), so any number may run at once.
void search_worker(std::string text, std::shared_ptr<OutcomeChannel> channel,
                   std::string socket_path, ExchangeLimits limits = {});

}  // namespace flintsearch::client
