// The single-instance toggle: one command opens the launcher, and the same
// command run again closes it. Runs before GTK is touched, on the main
// thread; nothing here is locked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace flintsearch {

enum class ToggleOutcome { StoppedAnother, Claimed };

// The id of a running launcher named by the pid file at path: the file is
// the user's own and holds a pid (util::parse_pid_text), and
// /proc/PID/comm reads "flintsearch".
std::optional<std::uint32_t> running_launcher(const std::string& pid_file);

// Stops the running launcher named by the pid file with `kill PID`, waiting
// for kill to exit (the pid file is left as it is), or claims the file.
ToggleOutcome toggle_instance(const std::string& pid_file);

}  // namespace flintsearch
