// The two things every Unix-socket end in the project does the same way:
// fill in the address of a socket path, and ask the kernel who is at the
// other end of a connection (the launcher's client, the hand-over to a
// resident, the resident's server, and the daemon's server).
//
// Ownership: plain values; nothing here keeps or closes a descriptor.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>

#include <string>

#include "util/result.hpp"

namespace flintsearch::util {

// A filled address and the length to pass with it: the family, the path and
// its terminating NUL. An empty path gives the family alone, which the
// kernel refuses for connect and bind (it would otherwise name the abstract
// namespace).
struct UnixAddress {
    sockaddr_un addr{};
    socklen_t length = 0;
};

enum class AddressProblem {
    InteriorNul,  // the path holds a NUL byte
    TooLong,      // the path and its NUL do not fit in sun_path
};

Result<UnixAddress, AddressProblem> unix_address(const std::string& path);

// Which peers a socket end accepts, by the peer's user id.
enum class PeerRule {
    ThisUser,        // only processes of the user we run as
    ThisUserOrRoot,  // also root's (a daemon may be started system-wide)
};

// The user id of the process at the other end of the connected Unix socket
// fd (SO_PEERCRED), or the errno when the kernel cannot say.
Result<uid_t, int> peer_uid(int fd);

// Whether a peer running as uid passes rule for a process running as self.
bool peer_uid_accepted(uid_t uid, PeerRule rule, uid_t self);

// Whether the peer of fd passes rule for this process's user; false when the
// kernel cannot say who the peer is.
bool peer_accepted(int fd, PeerRule rule);

}  // namespace flintsearch::util
