// Which files the user may trust. A stylesheet, the runtime theme file or a
// pid file in a directory that other users can write (the /tmp fallbacks)
// could be planted or swapped by one of them; such a file is used only when
// no one but the user (or root) could have put it there.
//
// Pure file-system checks, no state; safe on any thread.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>

#include "flint/text.hpp"

namespace flint {

// Whether someone other than the user (and root) may write what has this
// status: every user (mode o+w), or its group (g+w), unless that group is
// the user's own private one, the user's primary group with no other member
// listed in the group database.
bool others_may_write(const struct stat& st);

// Why a file or directory with this status is not the user's to trust, or
// nothing when it is: it must be owned by the user or by root, and writable
// by no one else (others_may_write). A directory that others may write is
// accepted only with the sticky bit and a trusted owner (/tmp): there, no
// one else can rename or remove the user's entries.
std::optional<std::string> untrusted_because(const struct stat& st);

// The same for a path: the file itself and every directory above it, after
// symbolic links are resolved. Nothing when the path may be trusted (or
// does not exist: there is nothing to distrust yet, see read_trusted_file).
std::optional<std::string> path_untrusted_because(const std::string& path);

// What reading a file the user must trust gave.
struct TrustedRead {
    std::optional<std::string> text;  // the contents, when read
    std::string refusal;              // why the file was refused; empty otherwise
};

// Reads a whole regular text file (valid UTF-8, at most max_bytes, opened
// without blocking) when it and the directories above it pass
// path_untrusted_because. The file is opened at its resolved path, the one
// that was checked, and its owner and mode are checked again on the
// descriptor that is read. A missing or unreadable file gives neither
// text nor refusal: callers fall back silently, as for any missing file.
TrustedRead read_trusted_text_file(const std::string& path, std::size_t max_bytes = MAX_READ_BYTES);

// What checking a file that another component opens by path found.
struct TrustedFile {
    std::optional<std::string> path;  // the resolved path that was checked, when it passes
    std::string refusal;              // why it was refused; empty when it passes
};

// Checks a file that is handed on by path rather than read here (an image
// a stylesheet names): it must exist, pass path_untrusted_because, and be a
// regular file of at most max_bytes, judged on a descriptor opened without
// blocking at the resolved path. Unlike read_trusted_text_file, a missing or
// unopenable file is refused with a reason too. The file can still change
// after the check; the directories above it are trusted, so only the user
// (or root) could change it.
TrustedFile check_trusted_file(const std::string& path, std::size_t max_bytes = MAX_READ_BYTES);

}  // namespace flint
