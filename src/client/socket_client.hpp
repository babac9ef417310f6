// One blocking exchange with the daemon over its Unix socket. Safe on any
// thread; each call owns its socket and closes it on every path.
#pragma once

#include <chrono>
#include <string>

#include "client/protocol.hpp"
#include "util/result.hpp"

namespace flintsearch::client {

// The failure of one exchange; text is all any caller uses.
struct ClientError {
    std::string text;
};

// Bounds that keep a stuck or runaway daemon from pinning a thread forever
// or exhausting memory.
inline constexpr std::chrono::seconds EXCHANGE_TIMEOUT{30};
inline constexpr std::size_t MAX_REPLY_BYTES = 64u * 1024u * 1024u;

// runtime_dir joined with "flintmill.sock"; the environment is read afresh.
std::string socket_path();

Result<Response, ClientError> send_request(const Request& request);

}  // namespace flintsearch::client
