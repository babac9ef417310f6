// A move-only owner of one file descriptor, closed when the owner goes, and
// writing to a descriptor.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <utility>

namespace flintsearch::util {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.fd_, -1));
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

    // Closes the descriptor held (if any) and takes `fd`. close() is not
    // retried on EINTR: on Linux the descriptor is gone either way.
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

    // Gives up ownership without closing.
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_ = -1;
};

// Hands all of bytes to write_some(data, size) (a write(2)-like call),
// repeating interrupted and short writes; false when the descriptor refuses
// (the rest is then unwritten).
template <class WriteSome>
bool write_fully(std::string_view bytes, WriteSome write_some) {
    while (!bytes.empty()) {
        const ssize_t n = write_some(bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

inline bool write_all(int fd, std::string_view bytes) {
    return write_fully(
        bytes, [fd](const char* data, std::size_t size) { return ::write(fd, data, size); });
}

// The same on a socket, without SIGPIPE when the peer has gone.
inline bool send_all(int fd, std::string_view bytes) {
    return write_fully(bytes, [fd](const char* data, std::size_t size) {
        return ::send(fd, data, size, MSG_NOSIGNAL);
    });
}

}  // namespace flintsearch::util
