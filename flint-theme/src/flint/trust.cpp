#include "flint/trust.hpp"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

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

namespace {

// Whether the group is the user's private one: the primary group, with no
// member in the group database but the user.
bool is_private_group(gid_t gid) {
    if (gid != ::getgid()) {
        return false;
    }
    const long suggested = ::sysconf(_SC_GETGR_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 1024);
    const std::unique_ptr<char, FreeDeleter> self_name([] {
        const struct passwd* pw = ::getpwuid(::getuid());
        return pw != nullptr && pw->pw_name != nullptr ? ::strdup(pw->pw_name) : nullptr;
    }());
    for (;;) {
        struct group entry {};
        struct group* found = nullptr;
        const int rc = ::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (std::size_t{1} << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || found == nullptr) {
            return true;  // no entry: no one is listed in it
        }
        for (char** member = entry.gr_mem; member != nullptr && *member != nullptr; ++member) {
            if (self_name == nullptr || std::strcmp(*member, self_name.get()) != 0) {
                return false;
            }
        }
        return true;
    }
}

}  // namespace

bool others_may_write(const struct stat& st) {
    return (st.st_mode & S_IWOTH) != 0 ||
           ((st.st_mode & S_IWGRP) != 0 && !is_private_group(st.st_gid));
}

std::optional<std::string> untrusted_because(const struct stat& st) {
    const uid_t self = ::getuid();
    if (st.st_uid != self && st.st_uid != 0) {
        return "owned by another user (uid " + std::to_string(st.st_uid) + ")";
    }
    const bool others_write = (st.st_mode & S_IWOTH) != 0;
    if (others_may_write(st)) {
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

namespace {

// The file at its resolved path, opened without blocking once the path's
// directories have passed; the descriptor (-1 when refused or not opened),
// the resolved path, and why it was refused, if it was.
struct CheckedOpen {
    int fd = -1;
    std::string path;
    std::optional<std::string> refusal;
    int open_errno = 0;
};

CheckedOpen open_checked(const std::string& path) {
    CheckedOpen result;
    const auto real = resolved(path);
    if (!real) {
        return result;
    }
    result.path = *real;
    if (auto why = chain_untrusted_because(*real)) {
        result.refusal = std::move(*why);
        return result;
    }
    do {
        result.fd = ::open(real->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    } while (result.fd < 0 && errno == EINTR);
    result.open_errno = result.fd < 0 ? errno : 0;
    return result;
}

}  // namespace

TrustedRead read_trusted_text_file(const std::string& path, std::size_t max_bytes) {
    TrustedRead result;
    // The file is read at its resolved path, the one that was checked: a
    // link swapped meanwhile cannot send the read elsewhere.
    CheckedOpen opened = open_checked(path);
    if (opened.refusal) {
        result.refusal = std::move(*opened.refusal);
        return result;
    }
    const int fd = opened.fd;
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
    CheckedOpen opened = open_checked(path);
    if (opened.path.empty()) {
        result.refusal = "it does not exist";
        return result;
    }
    if (opened.refusal) {
        result.refusal = std::move(*opened.refusal);
        return result;
    }
    const int fd = opened.fd;
    if (fd < 0) {
        result.refusal = "it cannot be opened: " + os_error_text(opened.open_errno);
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
        result.path = opened.path;
    }
    return result;
}

}  // namespace flint
