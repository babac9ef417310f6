// Single-instance toggle through the pid file. Runs before GTK is touched,
// on the main thread; nothing here is locked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace flintsearch {

// XDG_RUNTIME_DIR when set and valid UTF-8 (even empty), else "/tmp".
std::string runtime_dir();

// runtime_dir joined with "flintsearch.pid".
std::string pid_file_path();

enum class ToggleOutcome { StoppedAnother, Claimed };

// Reads pid-file text: Unicode white space trimmed, an optional "+", ASCII
// digits, at most 4294967295.
std::optional<std::uint32_t> parse_pid_text(std::string_view text);

// The id of a running launcher named by the pid file at path: the file
// holds a pid (see parse_pid_text) and /proc/PID/comm reads "flintsearch".
std::optional<std::uint32_t> running_launcher(const std::string& path);

// Stops a running launcher named by the pid file with `kill PID` (the pid
// file is left as it is), or claims the file.
ToggleOutcome toggle_instance();

// Writes this process's id into the pid file; failures are ignored. A
// symbolic link at the path is not followed, and only a regular file is
// written: a FIFO or device there is left alone without blocking.
void claim_pid_file();

// Deletes the pid file; failures (a missing file included) are ignored.
void remove_pid_file();

}  // namespace flintsearch
