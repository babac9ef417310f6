#include "util/handover.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>

#include "util/unix_socket.hpp"

namespace flintsearch::util {
namespace {

using Clock = std::chrono::steady_clock;

// Presses that wait while the resident serves others: a burst of presses
// (a held key, a script) queues here instead of starting launchers.
constexpr int LISTEN_BACKLOG = 64;

// Both ends refuse an empty path rather than let the kernel say no.
std::optional<UnixAddress> address_of(const std::string& path) {
    if (path.empty()) {
        return std::nullopt;
    }
    auto address = unix_address(path);
    return address ? std::optional<UnixAddress>(*address) : std::nullopt;
}

// Waits until fd has `events` or the deadline passes.
bool wait_ready(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd p{fd, events, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready > 0) {
            return (p.revents & events) != 0;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

}  // namespace

std::optional<ResidentLink> ResidentLink::reach(const std::string& path,
                                                std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    const auto address = address_of(path);
    if (!address) {
        return std::nullopt;
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) {
        return std::nullopt;
    }
    // A full listen queue answers EAGAIN: the resident is busy with other
    // presses; try again until the deadline (a Unix socket's connect is not
    // completed later, as a TCP one is, so it is made again).
    for (;;) {
        const int rc =
            ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address->addr), address->length);
        if (rc == 0) {
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN || Clock::now() >= deadline) {
            return std::nullopt;
        }
        ::usleep(2000);
    }
    if (!peer_accepted(fd.get(), PeerRule::ThisUser) || !send_all(fd.get(), HANDOVER_TOGGLE)) {
        return std::nullopt;
    }
    std::string got;
    char buffer[16];
    while (got.size() < HANDOVER_READY.size()) {
        if (!wait_ready(fd.get(), POLLIN, deadline)) {
            return std::nullopt;
        }
        const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            return std::nullopt;
        }
        got.append(buffer, static_cast<std::size_t>(n));
    }
    if (got != HANDOVER_READY) {
        return std::nullopt;
    }
    return ResidentLink(std::move(fd));
}

void ResidentLink::go() {
    send_all(fd_.get(), HANDOVER_GO);
    fd_.reset();
}

std::optional<UniqueFd> listen_at(const std::string& path) {
    const auto address = address_of(path);
    if (!address) {
        errno = ENAMETOOLONG;
        return std::nullopt;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            errno = EEXIST;
            return std::nullopt;
        }
        ::unlink(path.c_str());
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) {
        return std::nullopt;
    }
    // Only this user may connect: the socket is made 0600 before it exists
    // under its name.
    ::fchmod(fd.get(), 0600);
    const mode_t old = ::umask(0177);
    const int rc =
        ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address->addr), address->length);
    ::umask(old);
    if (rc != 0 || ::listen(fd.get(), LISTEN_BACKLOG) != 0) {
        return std::nullopt;
    }
    return fd;
}

}  // namespace flintsearch::util
