// The daemon's wire protocol: newline-delimited JSON, one request and one
// reply per connection. Encoding and decoding are pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "util/result.hpp"

namespace flintsearch::client {

struct Query {
    std::string query;
    std::uint64_t limit = 10;
};
struct Status {};
struct Reindex {};
using Request = std::variant<Query, Status, Reindex>;

struct Hit {
    std::string title;
    std::string path;
    std::string snippet;
    float score = 0.0f;
};

// The most hits a reply keeps, in the daemon's order. The launcher asks for
// 10; 300 is more than anyone scrolls through, and a list box of that many
// rows still lays out and draws within a frame or two (at 1,000 rows every
// frame took over 50 ms here). The decoder still checks every hit after
// them; it only counts them.
inline constexpr std::size_t MAX_KEPT_HITS = 300;

// How deep arrays and objects may nest in a reply. A reply has a fixed
// shape (the reply object, its hits array, a hit, a member's value: four
// levels), and members this client does not know are skipped whole; sixteen
// leaves them room. Deeper replies are refused as soon as they go too deep:
// without a bound, a reply of nothing but "[" costs the parser's stack of
// open values many times the reply's own size.
inline constexpr std::size_t MAX_REPLY_DEPTH = 16;

struct Hits {
    std::vector<Hit> hits;
    std::size_t left_out = 0;  // valid hits past MAX_KEPT_HITS
};
struct StatusInfo {
    std::uint64_t indexed = 0;
    std::uint64_t pending = 0;
    bool model_ready = false;
};
struct Ok {};
struct Error {
    std::string message;
};
using Response = std::variant<Hits, StatusInfo, Ok, Error>;

// The decoder's description of why a reply was rejected.
struct DecodeError {
    std::string description;
};

// One request line, the terminating line feed included.
std::string encode_request(const Request& request);

// Decodes one (already trimmed) reply line.
Result<Response, DecodeError> decode_response(std::string_view text);

}  // namespace flintsearch::client
