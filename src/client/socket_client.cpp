#include "client/socket_client.hpp"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "flint/text.hpp"
#include "util/paths.hpp"
#include "util/unique_fd.hpp"

namespace flintsearch::client {
namespace {

using util::UniqueFd;

using Clock = std::chrono::steady_clock;

constexpr std::size_t READ_CHUNK = 8192;

ClientError os_error(int errnum) {
    return ClientError{flint::os_error_text(errnum)};
}

std::string timeout_text(std::chrono::milliseconds timeout) {
    const auto ms = timeout.count();
    std::string amount;
    if (ms % 1000 == 0) {
        const auto s = ms / 1000;
        amount = std::to_string(s) + (s == 1 ? " second" : " seconds");
    } else {
        amount = std::to_string(ms) + (ms == 1 ? " millisecond" : " milliseconds");
    }
    return "flintmill did not answer within " + amount;
}

// The deadline of one exchange. Each blocking call gets the time that is
// left as its socket time-out, so the bound holds for the exchange as a
// whole and not per call.
class Deadline {
  public:
    explicit Deadline(std::chrono::milliseconds timeout)
        : timeout_(timeout), end_(Clock::now() + timeout) {}

    ClientError expired() const { return ClientError{timeout_text(timeout_)}; }

    // The error for a failed socket call: a time-out that armed this
    // deadline shows as EAGAIN/EWOULDBLOCK.
    ClientError failure(int errnum) const {
        return errnum == EAGAIN || errnum == EWOULDBLOCK ? expired() : os_error(errnum);
    }

    // Arms `option` (SO_SNDTIMEO or SO_RCVTIMEO) with the remaining time.
    // Fails with the expiry when no time is left: a zero timeval would mean
    // "wait forever".
    Result<void, ClientError> arm(int fd, int option) const {
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(end_ - Clock::now());
        if (left.count() <= 0) {
            return unexpected(expired());
        }
        timeval tv{};
        tv.tv_sec = static_cast<time_t>(left.count() / 1'000'000);
        tv.tv_usec = static_cast<suseconds_t>(left.count() % 1'000'000);
        if (::setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv) != 0) {
            return unexpected(os_error(errno));
        }
        return {};
    }

  private:
    std::chrono::milliseconds timeout_;
    Clock::time_point end_;
};

Result<void, ClientError> connect_to(int fd, const std::string& path, const Deadline& deadline) {
    if (path.find('\0') != std::string::npos) {
        return unexpected(ClientError{"paths must not contain interior null bytes"});
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        return unexpected(ClientError{"path must be shorter than SUN_LEN"});
    }
    std::memcpy(addr.sun_path, path.data(), path.size());
    // The family, the path and its terminating NUL. An empty path gives the
    // family alone, which the kernel refuses (it would otherwise name the
    // abstract namespace).
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() +
                                               (path.empty() ? 0 : 1));
    // A connect waits for room in a full listen queue; the send time-out
    // bounds that wait.
    if (auto armed = deadline.arm(fd, SO_SNDTIMEO); !armed) {
        return armed;
    }
    for (bool retried = false;; retried = true) {
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), length) == 0) {
            return {};
        }
        const int err = errno;
        if (err == EINTR) {
            continue;
        }
        if (err == EISCONN && retried) {
            return {};  // the interrupted attempt went through after all
        }
        return unexpected(deadline.failure(err));
    }
}

// One send or receive with the time that is left of the exchange.
// Interrupted calls are repeated; a failure is the exchange's error.
template <class Call>
Result<std::size_t, ClientError> transfer(int fd, int option, const Deadline& deadline, Call call) {
    for (;;) {
        if (auto armed = deadline.arm(fd, option); !armed) {
            return unexpected(armed.error());
        }
        const ssize_t n = call();
        if (n >= 0) {
            return static_cast<std::size_t>(n);
        }
        if (errno != EINTR) {
            return unexpected(deadline.failure(errno));
        }
    }
}

Result<void, ClientError> write_all(int fd, std::string_view bytes, const Deadline& deadline) {
    while (!bytes.empty()) {
        // MSG_NOSIGNAL: a peer that has gone away is an EPIPE, not a signal.
        const auto sent = transfer(fd, SO_SNDTIMEO, deadline, [&] {
            return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        });
        if (!sent) {
            return unexpected(sent.error());
        }
        if (*sent == 0) {
            return unexpected(ClientError{"failed to write whole buffer"});
        }
        bytes.remove_prefix(*sent);
    }
    return {};
}

// Reads up to and including the first line feed, or to the end of the
// stream. Whatever follows the line feed in the same chunk is dropped, and
// nothing after that chunk is read.
Result<std::string, ClientError> read_line(int fd, const Deadline& deadline,
                                           std::size_t max_bytes) {
    std::string line;
    char chunk[READ_CHUNK];
    for (;;) {
        const auto received =
            transfer(fd, SO_RCVTIMEO, deadline, [&] { return ::recv(fd, chunk, sizeof chunk, 0); });
        if (!received) {
            return unexpected(received.error());
        }
        if (*received == 0) {
            break;
        }
        const std::string_view got(chunk, *received);
        const auto lf = got.find('\n');
        const std::size_t take = lf == std::string_view::npos ? got.size() : lf;
        if (line.size() + take > max_bytes) {
            return unexpected(ClientError{"reply from flintmill is longer than " +
                                          std::to_string(max_bytes) + " bytes"});
        }
        line.append(got.substr(0, take));
        if (lf != std::string_view::npos) {
            line += '\n';
            break;
        }
    }
    return line;
}

// The daemon must run as this user (or as root). When the runtime directory
// falls back to /tmp, any local user could listen on /tmp/flintmill.sock and
// feed us hits whose paths the launcher would open.
Result<void, ClientError> check_peer(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
        return unexpected(os_error(errno));
    }
    const uid_t self = ::getuid();
    if (peer.uid != self && peer.uid != 0) {
        return unexpected(ClientError{"refusing a daemon that runs as another user (uid " +
                                      std::to_string(peer.uid) + ", not " + std::to_string(self) +
                                      ")"});
    }
    return {};
}

}  // namespace

Result<Response, ClientError> send_request(const Request& request) {
    return send_request_to(util::socket_path(), request, ExchangeLimits{});
}

Result<Response, ClientError> send_request_to(const std::string& path, const Request& request,
                                              const ExchangeLimits& limits) {
    const Deadline deadline(limits.timeout);
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        return unexpected(os_error(errno));
    }
    if (auto connected = connect_to(fd.get(), path, deadline); !connected) {
        return unexpected(std::move(connected.error()));
    }
    if (auto trusted = check_peer(fd.get()); !trusted) {
        return unexpected(std::move(trusted.error()));
    }
    // The whole line is assembled before anything is written.
    const std::string line = encode_request(request);
    if (auto written = write_all(fd.get(), line, deadline); !written) {
        return unexpected(std::move(written.error()));
    }
    // The sending direction stays open: the daemon answers on the line feed.
    auto reply = read_line(fd.get(), deadline, limits.max_reply_bytes);
    fd.reset();
    if (!reply) {
        return unexpected(std::move(reply.error()));
    }
    if (!flint::is_valid_utf8(*reply)) {
        return unexpected(ClientError{"stream did not contain valid UTF-8"});
    }
    auto response = decode_response(flint::trim_white_space(*reply));
    if (!response) {
        return unexpected(ClientError{std::move(response.error().description)});
    }
    return std::move(*response);
}

}  // namespace flintsearch::client
