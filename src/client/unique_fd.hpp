// A move-only owner of one file descriptor, closed when the owner goes.
#pragma once

#include <unistd.h>

#include <utility>

namespace flintsearch::client {

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

}  // namespace flintsearch::client
