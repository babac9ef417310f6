// The single-instance toggle's pid file: the running launcher's process id
// as ASCII digits, no line end. Main thread only; nothing here is locked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace flintsearch::util {

// Reads pid-file text: Unicode white space trimmed, an optional "+", ASCII
// digits (leading zeros allowed), at most 4294967295.
std::optional<std::uint32_t> parse_pid_text(std::string_view text);

// The file's text when it is a regular file that the current user owns,
// read through the very descriptor whose owner and type were checked. A
// symbolic link is not followed and a FIFO does not block. In a shared
// fallback directory such as /tmp another user could otherwise plant a
// file naming one of our processes, or swap the file after the check.
std::optional<std::string> read_pid_file(const std::string& path);

// Writes this process's id into the file at path, creating or truncating
// it; failures are ignored. A symbolic link at the path is not followed,
// and only a regular file is written: a FIFO or device there is left alone
// without blocking.
void claim_pid_file(const std::string& path);

// Deletes the file at path; failures (a missing file included) are ignored.
void remove_pid_file(const std::string& path);

}  // namespace flintsearch::util
