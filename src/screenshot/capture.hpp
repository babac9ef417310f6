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

// Runs program (through PATH, no shell) with LC_ALL=C and LANG=C; kills it
// after limit. Never fails on its own: failures give success == false.
CommandOutcome run_with_timeout(const std::string& program, const std::vector<std::string>& args,
                                std::chrono::milliseconds limit);

// "X,Y WxH".
std::string capture_geometry(std::int32_t x, std::int32_t y, std::int32_t width,
                             std::int32_t height);

Result<void, CaptureError> capture_view(std::int32_t x, std::int32_t y, std::int32_t width,
                                        std::int32_t height, const std::string& output);

// Checks the requested size fits the signed geometry and captures 0,0 W x H.
Result<void, CaptureError> capture_output(std::uint32_t width, std::uint32_t height,
                                          const std::string& output);

// Prints the failure (if any) and ends the process with status 0 or 1.
[[noreturn]] void finish_capture(const Result<void, CaptureError>& result);

}  // namespace flintsearch::screenshot
