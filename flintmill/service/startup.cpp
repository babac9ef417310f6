#include "flintmill/service/startup.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "flint/text.hpp"
#include "util/handover.hpp"

namespace flintmill::service {

using flintsearch::unexpected;
using flintsearch::util::UniqueFd;

flintsearch::Result<void, std::string> check_runtime_dir(const std::string& dir) {
    if (dir.empty()) {
        return unexpected(std::string(
            "XDG_RUNTIME_DIR is not set: flintmill needs a private runtime directory for its "
            "socket"));
    }
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) {
        return unexpected("runtime directory " + dir + ": " + flint::os_error_text(errno));
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & (S_IWGRP | S_IWOTH))) {
        return unexpected("runtime directory " + dir +
                          " is not private to this user (others can write it); not listening "
                          "there");
    }
    return {};
}

flintsearch::Result<UniqueFd, std::string> take_lock(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) {
        return unexpected("cannot open the lock " + path + ": " + flint::os_error_text(errno));
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return unexpected("already running for this user (" + path + " is locked)");
        }
        return unexpected("cannot lock " + path + ": " + flint::os_error_text(errno));
    }
    return fd;
}

UniqueFd socket_from_systemd() {
    const char* pid = std::getenv("LISTEN_PID");
    const char* fds = std::getenv("LISTEN_FDS");
    const bool ours = pid != nullptr && fds != nullptr &&
                      std::string_view(pid) == std::to_string(::getpid()) && std::atoi(fds) >= 1;
    ::unsetenv("LISTEN_PID");
    ::unsetenv("LISTEN_FDS");
    ::unsetenv("LISTEN_FDNAMES");
    if (!ours) {
        return {};
    }
    constexpr int FIRST = 3;  // SD_LISTEN_FDS_START
    int type = 0;
    int listening = 0;
    socklen_t size = sizeof type;
    sockaddr_storage addr{};
    socklen_t addr_size = sizeof addr;
    if (::getsockopt(FIRST, SOL_SOCKET, SO_TYPE, &type, &size) != 0 || type != SOCK_STREAM ||
        ::getsockopt(FIRST, SOL_SOCKET, SO_ACCEPTCONN, &listening, &(size = sizeof listening)) !=
            0 ||
        !listening || ::getsockname(FIRST, reinterpret_cast<sockaddr*>(&addr), &addr_size) != 0 ||
        addr.ss_family != AF_UNIX) {
        return {};
    }
    ::fcntl(FIRST, F_SETFD, FD_CLOEXEC);
    ::fcntl(FIRST, F_SETFL, ::fcntl(FIRST, F_GETFL) | O_NONBLOCK);
    return UniqueFd(FIRST);
}

flintsearch::Result<UniqueFd, std::string> listen_on(const std::string& path) {
    auto fd = flintsearch::util::listen_at(path);
    if (!fd) {
        return unexpected("cannot listen on " + path + ": " + flint::os_error_text(errno));
    }
    return std::move(*fd);
}

}  // namespace flintmill::service
