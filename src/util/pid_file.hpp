// The single-instance toggle's pid file: the running launcher's process id
// as ASCII digits, no line end. A launcher holds an exclusive lock on the
// file for as long as it runs, so a start can tell a live launcher from a
// stale file without trusting the id alone (ids are reused, and any user
// may run a program of our name), and two starts at the same moment cannot
// both claim it. Main thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "util/unique_fd.hpp"

namespace flintsearch::util {

// Reads pid-file text: Unicode white space trimmed, an optional "+", ASCII
// digits (leading zeros allowed), at most 4294967295.
std::optional<std::uint32_t> parse_pid_text(std::string_view text);

// The pid file, open. Owns its descriptor (close-on-exec, so no child ever
// inherits the lock) and, once try_lock succeeded, the lock.
class PidFile {
  public:
    // Opens the file at path, creating it when missing: without following a
    // symbolic link, without blocking on a FIFO, and only when it is a
    // regular file of the current user's. `private_mode` makes a created
    // file 0600 whatever the umask (for a directory that other users can
    // write); otherwise it is 0666 before the umask. Nothing when the file
    // cannot be used; `refusal` then says why, if the file exists but is
    // someone else's (a missing directory or a FIFO is simply unusable).
    static std::optional<PidFile> open(const std::string& path, bool private_mode,
                                       std::string* refusal = nullptr);

    // Whether a running launcher holds the lock on the file at path (which
    // is neither created nor claimed here).
    static bool is_held(const std::string& path);

    // Takes the exclusive lock without waiting. False when another process
    // holds it: a launcher is running (or another start is claiming).
    bool try_lock();

    // The whole text, read through this descriptor (the one whose owner and
    // type were checked).
    std::optional<std::string> read() const;

    // Replaces the contents with this process's id. Failures are ignored: a
    // file that cannot be written (read-only) just keeps what it held.
    void write_own_pid();

  private:
    explicit PidFile(UniqueFd fd) : fd_(std::move(fd)) {}
    UniqueFd fd_;
};

// Deletes the file at path; failures (a missing file included) are ignored.
// A launcher that still runs keeps its lock on the deleted file.
void remove_pid_file(const std::string& path);

}  // namespace flintsearch::util
