// The single-instance toggle: one command opens the launcher, and the same
// command run again closes it. Runs before GTK is touched, on the main
// thread; nothing here is locked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "util/pid_file.hpp"

namespace flintsearch {

enum class ToggleOutcome { StoppedAnother, Claimed };

struct ToggleResult {
    ToggleOutcome outcome = ToggleOutcome::Claimed;
    // A claimed pid file and its lock, held until the process ends; none
    // when the file could not be used (the launcher still opens).
    std::optional<util::PidFile> claim;
};

// Whether pid names a running launcher of this user: /proc/PID/comm reads
// "flintsearch" and the process's real user id is ours. Any user can run a
// program of that name, and ids are reused.
bool is_own_launcher(std::uint32_t pid);

// Stops the running launcher that holds the pid file's lock with
// `kill PID`, waiting for kill to exit (the pid file is left as it is), or
// claims the file: locks it and writes this process's id. A lock held by a
// start that has not written its id yet is waited for briefly. When kill
// fails the file counts as stale: it is claimed if its lock came free, and
// the launcher opens either way.
ToggleResult toggle_instance(const std::string& pid_file, bool private_file = false);

}  // namespace flintsearch
