#include "util/pid_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "text.hpp"
#include "util/unique_fd.hpp"

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

std::optional<std::string> read_pid_file(const std::string& path) {
    const UniqueFd fd = open_retrying(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (!fd) {
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
        return std::nullopt;
    }
    auto text = flint::read_open_file(fd.get());
    if (!text || !flint::is_valid_utf8(*text)) {
        return std::nullopt;
    }
    return text;
}

void claim_pid_file(const std::string& path) {
    const std::string text = std::to_string(::getpid());
    // O_NONBLOCK: a FIFO at the path would otherwise block the open until
    // some reader appeared, and the launcher would never start.
    const UniqueFd fd = open_retrying(
        path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return;
    }
    write_all(fd.get(), text);
}

void remove_pid_file(const std::string& path) {
    ::unlink(path.c_str());
}

}  // namespace flintsearch::util
