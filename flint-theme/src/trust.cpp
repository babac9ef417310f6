#include "trust.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace flint {
namespace {

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};

// Checks the resolved path and every directory above it, up to "/".
std::optional<std::string> chain_untrusted_because(const std::string& real) {
    std::string at = real;
    for (;;) {
        struct stat st {};
        if (::lstat(at.c_str(), &st) != 0) {
            return std::nullopt;  // gone meanwhile: the read finds nothing
        }
        if (auto why = untrusted_because(st)) {
            return (at == real ? "it is " : at + " is ") + *why;
        }
        if (at == "/") {
            return std::nullopt;
        }
        const auto slash = at.rfind('/');
        at = slash == 0 ? std::string("/") : at.substr(0, slash);
    }
}

// The path with every symbolic link resolved; nothing when it does not
// exist (or holds a NUL byte, which no file name can).
std::optional<std::string> resolved(const std::string& path) {
    if (path.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    const std::unique_ptr<char, FreeDeleter> real(::realpath(path.c_str(), nullptr));
    if (real == nullptr) {
        return std::nullopt;
    }
    return std::string(real.get());
}

}  // namespace

std::optional<std::string> untrusted_because(const struct stat& st) {
    const uid_t self = ::getuid();
    if (st.st_uid != self && st.st_uid != 0) {
        return "owned by another user (uid " + std::to_string(st.st_uid) + ")";
    }
    const bool others_write = (st.st_mode & S_IWOTH) != 0;
    const bool group_writes = (st.st_mode & S_IWGRP) != 0 && st.st_gid != ::getgid();
    if (others_write || group_writes) {
        if (S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0) {
            return std::nullopt;  // sticky: others may add entries, never replace ours
        }
        return std::string(others_write ? "writable by every user" : "writable by its group");
    }
    return std::nullopt;
}

std::optional<std::string> path_untrusted_because(const std::string& path) {
    const auto real = resolved(path);
    return real ? chain_untrusted_because(*real) : std::nullopt;
}

TrustedRead read_trusted_text_file(const std::string& path, std::size_t max_bytes) {
    TrustedRead result;
    // The file is read at its resolved path, the one that was checked: a
    // link swapped meanwhile cannot send the read elsewhere.
    const auto real = resolved(path);
    if (!real) {
        return result;
    }
    if (auto why = chain_untrusted_because(*real)) {
        result.refusal = std::move(*why);
        return result;
    }
    int fd;
    do {
        fd = ::open(real->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return result;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        if (auto why = untrusted_because(st)) {
            result.refusal = "it is " + *why;
            ::close(fd);
            return result;
        }
    }
    result.text = read_open_file(fd, max_bytes);
    ::close(fd);
    if (result.text && !is_valid_utf8(*result.text)) {
        result.text.reset();
    }
    return result;
}

TrustedFile check_trusted_file(const std::string& path, std::size_t max_bytes) {
    TrustedFile result;
    const auto real = resolved(path);
    if (!real) {
        result.refusal = "it does not exist";
        return result;
    }
    if (auto why = chain_untrusted_because(*real)) {
        result.refusal = std::move(*why);
        return result;
    }
    int fd;
    do {
        fd = ::open(real->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        result.refusal = "it cannot be opened: " + os_error_text(errno);
        return result;
    }
    struct stat st {};
    const bool stated = ::fstat(fd, &st) == 0;
    ::close(fd);
    if (!stated || !S_ISREG(st.st_mode)) {
        result.refusal = "it is not a regular file";
    } else if (static_cast<std::uintmax_t>(st.st_size) > max_bytes) {
        result.refusal = "it is larger than " + std::to_string(max_bytes) + " bytes";
    } else if (auto why = untrusted_because(st)) {
        result.refusal = "it is " + *why;
    } else {
        result.path = *real;
    }
    return result;
}

}  // namespace flint
