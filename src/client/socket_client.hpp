// One blocking exchange with the daemon over its Unix socket. Safe on any
// thread; each call owns its socket and closes it on every path.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "util/result.hpp"
#include "wire/protocol.hpp"

namespace flintsearch::client {

// The failure of one exchange; text is all any caller uses.
struct ClientError {
    std::string text;
};

// Bounds that keep a stuck or runaway daemon from pinning a thread forever
// or exhausting memory.
inline constexpr std::chrono::seconds EXCHANGE_TIMEOUT{30};
inline constexpr std::size_t MAX_REPLY_BYTES = 64u * 1024u * 1024u;

// The bounds of one exchange. The timeout covers the whole exchange
// (connect, send and receive together), so a daemon that trickles its reply
// cannot stretch it; its expiry is a ClientError. max_reply_bytes bounds
// the reply line without its line feed.
struct ExchangeLimits {
    std::chrono::milliseconds timeout = EXCHANGE_TIMEOUT;
    std::size_t max_reply_bytes = MAX_REPLY_BYTES;
};

// One exchange with the daemon at util::socket_path() (the environment is
// read afresh), with the default limits.
Result<Response, ClientError> send_request(const Request& request);

// One exchange with the daemon listening at `path`, within `limits`.
// The launcher's searches use this with the socket path resolved at start.
Result<Response, ClientError> send_request_to(const std::string& path, const Request& request,
                                              const ExchangeLimits& limits);

}  // namespace flintsearch::client
