// Screenshot capture without GTK: run a tool with a time limit, and capture
// an output area with grim.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "util/result.hpp"

namespace flintsearch::screenshot {

inline constexpr std::chrono::milliseconds CAPTURE_DELAY{300};
inline constexpr std::chrono::seconds CAPTURE_TIMEOUT{5};
inline constexpr std::chrono::milliseconds POLL_INTERVAL{50};

struct CommandOutcome {
    std::string stdout_bytes;
    std::string stderr_bytes;
    bool success = false;
};

struct CaptureError {
    std::string message;
};

// Runs program (through PATH, no shell) with the inherited environment plus
// LC_ALL=C and LANG=C, stdin on /dev/null, and both output streams collected
// by two reader threads that are joined before it returns. Blocks the caller
// until the child exits, or kills it (with its process group) after limit.
// success is true only for an exit of its own with code 0. Never fails on its
// own: a child that cannot be started gives empty outputs and success false.
// No descriptor is left open on any path.
CommandOutcome run_with_timeout(const std::string& program, const std::vector<std::string>& args,
                                std::chrono::milliseconds limit);

// "X,Y WxH".
std::string capture_geometry(std::int32_t x, std::int32_t y, std::int32_t width,
                             std::int32_t height);

// Creates the output's missing parent directories, then runs
// `grim -g "X,Y WxH" output` with CAPTURE_TIMEOUT. The error says which step
// failed; grim's trimmed error output is shown with U+FFFD for bytes that
// are not UTF-8.
Result<void, CaptureError> capture_view(std::int32_t x, std::int32_t y, std::int32_t width,
                                        std::int32_t height, const std::string& output);

// Captures 0,0 W x H. The command line allows sizes up to 4294967295, but
// the geometry is signed 32-bit: a larger value is an error naming it, never
// a negative geometry.
Result<void, CaptureError> capture_output(std::uint32_t width, std::uint32_t height,
                                          const std::string& output);

// Prints the failure (if any) and ends the process at once with status 0 or
// 1, without running static destructors (see the definition for why).
[[noreturn]] void finish_capture(const Result<void, CaptureError>& result);

}  // namespace flintsearch::screenshot
