#include "util/pid_file.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "flint/text.hpp"

namespace flintsearch::util {
namespace {

UniqueFd open_retrying(const std::string& path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags, mode);
    } while (fd < 0 && errno == EINTR);
    return UniqueFd(fd);
}

}  // namespace

std::optional<std::uint32_t> parse_pid_text(std::string_view text) {
    text = flint::trim_white_space(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > 0xFFFFFFFFu) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(value);
}

std::optional<PidFile> PidFile::open(const std::string& path, bool private_mode,
                                     std::string* refusal) {
    // O_NONBLOCK: a FIFO at the path would otherwise block the open until
    // some reader appeared, and the launcher would never start.
    constexpr int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    UniqueFd fd = open_retrying(path, O_RDWR | O_CREAT | flags, private_mode ? 0600 : 0666);
    if (!fd && errno == EACCES) {
        fd = open_retrying(path, O_RDONLY | flags);  // read-only: still lockable and readable
    }
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    if (st.st_uid != ::getuid()) {
        // In a shared directory another user may have planted it.
        if (refusal != nullptr) {
            *refusal = "it is owned by another user (uid " + std::to_string(st.st_uid) + ")";
        }
        return std::nullopt;
    }
    if (private_mode && (st.st_mode & 0777) != 0600) {
        ::fchmod(fd.get(), 0600);
    }
    return PidFile(std::move(fd));
}

bool PidFile::is_held(const std::string& path) {
    const UniqueFd fd = open_retrying(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
        return false;
    }
    int rc;
    do {
        rc = ::flock(fd.get(), LOCK_SH | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    return rc != 0 && errno == EWOULDBLOCK;  // a lock taken here goes with fd
}

bool PidFile::try_lock() {
    int rc;
    do {
        rc = ::flock(fd_.get(), LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

std::optional<std::string> PidFile::read() const {
    if (::lseek(fd_.get(), 0, SEEK_SET) != 0) {
        return std::nullopt;
    }
    auto text = flint::read_open_file(fd_.get());
    if (!text || !flint::is_valid_utf8(*text)) {
        return std::nullopt;
    }
    return text;
}

void PidFile::write_own_pid() {
    if (::ftruncate(fd_.get(), 0) != 0 || ::lseek(fd_.get(), 0, SEEK_SET) != 0) {
        return;
    }
    write_all(fd_.get(), std::to_string(::getpid()));
}

void remove_pid_file(const std::string& path) {
    ::unlink(path.c_str());
}

}  // namespace flintsearch::util
