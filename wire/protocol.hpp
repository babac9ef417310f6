// The daemon's wire protocol: newline-delimited JSON, one request and one
// reply per connection. Both programs use this one codec: the launcher
// encodes requests and decodes replies, the daemon decodes requests and
// encodes replies. Encoding and decoding are pure; every value owns its data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "util/result.hpp"

namespace flintsearch::wire {

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

// The daemon's side.

// The longest request line the daemon reads, its line feed included.
inline constexpr std::size_t MAX_REQUEST_BYTES = 64 * 1024;

// Decodes one request line (its line feed and surrounding white space may
// be present). Members a kind does not name are skipped; the description
// of a failure is one readable line.
Result<Request, DecodeError> decode_request(std::string_view line);

// One reply line, compact JSON and the terminating line feed. Text that is
// not valid UTF-8 goes out with U+FFFD in place of the ill-formed bytes, so
// the line is always valid JSON; scores are clamped to 0..1.
std::string encode_response(const Response& response);

}  // namespace flintsearch::wire

// The launcher's code names these types from its own namespace.
namespace flintsearch::client {
using wire::decode_response;
using wire::DecodeError;
using wire::encode_request;
using wire::Error;
using wire::Hit;
using wire::Hits;
using wire::MAX_KEPT_HITS;
using wire::Ok;
using wire::Query;
using wire::Reindex;
using wire::Request;
using wire::Response;
using wire::Status;
using wire::StatusInfo;
}  // namespace flintsearch::client
