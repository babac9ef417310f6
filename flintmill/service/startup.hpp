// What the daemon checks and takes before it serves: a private runtime
// directory, the per-user lock, and its listening socket (systemd's, when
// socket-activated, else its own).
//
// Ownership: each function returns the descriptor it opened; the caller
// keeps it for the daemon's lifetime (the lock holds while it is open).
#pragma once

#include <string>

#include "util/result.hpp"
#include "util/unique_fd.hpp"

namespace flintmill::service {

// Fails, with the line to print, when dir is not a directory of this user
// that no one else (group or others) may write: a socket or lock there
// could be replaced by someone else.
flintsearch::Result<void, std::string> check_runtime_dir(const std::string& dir);

// Takes the per-user lock at path (created 0600). Fails with the line to
// print when another flintmill holds it.
flintsearch::Result<flintsearch::util::UniqueFd, std::string> take_lock(const std::string& path);

// The listening socket systemd passed (LISTEN_FDS, LISTEN_PID), if any: the
// first passed descriptor when it is a listening Unix stream socket.
// Clears the variables so children do not see them.
flintsearch::util::UniqueFd socket_from_systemd();

// A new listening socket at path, mode 0600 (a stale socket there is
// replaced; the caller holds the lock).
flintsearch::Result<flintsearch::util::UniqueFd, std::string> listen_on(const std::string& path);

}  // namespace flintmill::service
