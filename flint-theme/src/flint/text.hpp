// Text and path helpers shared by the theme library and the launcher.
// Everything here is pure, allocation-light and safe on any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace flint {

// True when the code point has the Unicode White_Space property.
bool is_white_space(char32_t c);

// True when the bytes are well-formed UTF-8 (no overlongs, no surrogates,
// nothing above U+10FFFF).
bool is_valid_utf8(std::string_view text);

// Strips every White_Space character from both ends. Bytes that are not
// valid UTF-8 are never stripped.
std::string_view trim_white_space(std::string_view text);

// Replaces every ill-formed UTF-8 sequence with U+FFFD.
std::string to_utf8_lossy(std::string_view bytes);

// Appends name to base after one "/", unless base is empty or already ends
// with "/"; a name that begins with "/" replaces base.
std::string join_path(std::string_view base, std::string_view name);

// The value of an environment variable when it is set and valid UTF-8 (an
// empty value counts as set); nothing otherwise.
std::optional<std::string> env_utf8(const char* name);

// The operating system's message for errnum followed by " (os error N)",
// e.g. "No such file or directory (os error 2)".
std::string os_error_text(int errnum);

// The largest file read_file takes by default. Every file read through it is
// small (a palette, a stylesheet, a pid file): a bigger one is treated as
// unreadable, so a runaway or sparse multi-gigabyte file can neither exhaust
// memory nor stall the main loop.
inline constexpr std::size_t MAX_READ_BYTES = std::size_t{16} << 20;

// Reads a whole regular file of at most max_bytes. Nothing when it cannot be
// opened or read, is not a regular file (a FIFO or device could block the
// caller forever), or holds more than max_bytes (checked against its size
// first, and again while reading, since a file may grow or /proc may report
// no size).
std::optional<std::string> read_file(const std::string& path,
                                     std::size_t max_bytes = MAX_READ_BYTES);

// Reads what remains of an open regular file of at most max_bytes, under the
// same rules as read_file; the descriptor stays the caller's. For a file
// whose owner or type the caller has checked on this very descriptor, so
// that no one can swap the file between the check and the read.
std::optional<std::string> read_open_file(int fd, std::size_t max_bytes = MAX_READ_BYTES);

// Reads a whole file (as read_file) that must be valid UTF-8 text.
std::optional<std::string> read_text_file(const std::string& path,
                                          std::size_t max_bytes = MAX_READ_BYTES);

}  // namespace flint
