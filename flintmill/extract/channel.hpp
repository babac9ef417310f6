// What the daemon and its worker say to each other, on the worker's
// standard input and output (two pipes). One request at a time:
//
//   request  u32 n, then n bytes of path
//   reply    u8 status, u32 a, u32 b, then a bytes, then b bytes
//            status 0: a document; the a bytes are its title, the b its text
//            status 1 + FailureKind: a failure; the a bytes are the message
//
// Integers are in host order (both ends run on one machine). The daemon
// trusts none of it: lengths are checked against the bounds below before
// anything is read, and a worker that breaks them is killed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "flintmill/extract/extractor.hpp"

namespace flintmill::extract {

inline constexpr std::size_t MAX_PATH_BYTES = 4096;
inline constexpr std::size_t MAX_MESSAGE_BYTES = 1024;
inline constexpr std::size_t REPLY_HEADER_BYTES = 9;

std::string encode_request(std::string_view path);
std::string encode_reply(const flintsearch::Result<Document, Failure>& outcome);

struct ReplyHeader {
    std::uint8_t status;
    std::uint32_t first;   // title or message bytes
    std::uint32_t second;  // text bytes
};
// The header of a reply; nothing when it breaks the bounds (an unknown
// status, a title over max_title_bytes, text over max_text_bytes).
std::optional<ReplyHeader> decode_reply_header(std::string_view bytes, std::size_t max_title_bytes,
                                               std::size_t max_text_bytes);

// The limits as the worker's arguments, and back.
std::vector<std::string> limits_to_args(const Limits& limits);
std::optional<Limits> limits_from_args(const std::vector<std::string_view>& args);

}  // namespace flintmill::extract
