// Single-instance toggle through the pid file. Runs before GTK is touched.
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

// Stops a running launcher named by the pid file, or claims the file.
ToggleOutcome toggle_instance();

// Writes this process's id into the pid file; failures are ignored.
void claim_pid_file();

// Deletes the pid file; failures (a missing file included) are ignored.
void remove_pid_file();

}  // namespace flintsearch
