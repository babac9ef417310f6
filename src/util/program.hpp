// The program's name and application id, and its one way of saying something on the console.
#pragma once

#include <string_view>

namespace flintsearch::util {

// The executable's name: the kernel shows it as a running launcher's comm
// (/proc/PID/comm), so the toggle recognises launchers by it.
inline constexpr std::string_view PROGRAM_NAME = "flintsearch";

// The GTK application id of both the launcher and its resident: the desktop
// sees one application either way.
inline constexpr const char* APPLICATION_ID = "io.github.flintsearch.flintsearch";

// Writes "flintsearch: " + message + a line feed to standard error, as one
// write, so lines of several processes never interleave.
void report(std::string_view message);

}  // namespace flintsearch::util
