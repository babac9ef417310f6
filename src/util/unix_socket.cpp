#include "util/unix_socket.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace flintsearch::util {

Result<UnixAddress, AddressProblem> unix_address(const std::string& path) {
    if (path.find('\0') != std::string::npos) {
        return unexpected(AddressProblem::InteriorNul);
    }
    UnixAddress address;
    if (path.size() >= sizeof address.addr.sun_path) {
        return unexpected(AddressProblem::TooLong);
    }
    address.addr.sun_family = AF_UNIX;
    std::memcpy(address.addr.sun_path, path.data(), path.size());
    address.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() +
                                            (path.empty() ? 0 : 1));
    return address;
}

Result<uid_t, int> peer_uid(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
        return unexpected(errno);
    }
    return peer.uid;
}

bool peer_uid_accepted(uid_t uid, PeerRule rule, uid_t self) {
    return uid == self || (rule == PeerRule::ThisUserOrRoot && uid == 0);
}

bool peer_accepted(int fd, PeerRule rule) {
    const auto uid = peer_uid(fd);
    return uid && peer_uid_accepted(*uid, rule, ::getuid());
}

}  // namespace flintsearch::util
