#include "flintmill/extract/worker.hpp"

#include <fcntl.h>
#include <libxml/parser.h>
#include <poppler/cpp/poppler-global.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "flint/text.hpp"
#include "flintmill/extract/format.hpp"
#include "util/unique_fd.hpp"

namespace flintmill::extract {

void init_readers() {
    xmlInitParser();
    // poppler reports every damaged object on standard error otherwise.
    poppler::set_debug_error_function([](const std::string&, void*) {}, nullptr);
}

flintsearch::Result<std::string, Failure> read_document(const std::string& path,
                                                        std::uint64_t max_bytes) {
    constexpr int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    // O_NOATIME keeps indexing from touching access times, but only the
    // file's owner may ask for it.
    int raw = ::open(path.c_str(), flags | O_NOATIME);
    if (raw < 0 && errno == EPERM) {
        raw = ::open(path.c_str(), flags);
    }
    if (raw < 0) {
        const int error = errno;
        return fail(FailureKind::Unreadable,
                    error == ELOOP ? "a symbolic link" : flint::os_error_text(error));
    }
    const flintsearch::util::UniqueFd fd(raw);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        return fail(FailureKind::Unreadable, flint::os_error_text(errno));
    }
    if (!S_ISREG(st.st_mode)) {
        return fail(FailureKind::Unreadable, "not a regular file");
    }
    const auto too_large = [&] {
        return fail(FailureKind::TooLarge, "larger than " + std::to_string(max_bytes) + " bytes");
    };
    if (st.st_size < 0 || static_cast<std::uint64_t>(st.st_size) > max_bytes) {
        return too_large();
    }
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(st.st_size));
    char chunk[64 << 10];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return fail(FailureKind::Unreadable, flint::os_error_text(errno));
        }
        if (n == 0) {
            return bytes;
        }
        if (bytes.size() + static_cast<std::size_t>(n) > max_bytes) {
            return too_large();
        }
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
}

Outcome extract_file(const std::string& path, const Limits& limits) {
    const Format format = format_of(path);
    if (format == Format::None) {
        return fail(FailureKind::Unsupported, "not a format that is read");
    }
    try {
        const auto bytes = read_document(path, limits.max_file_bytes);
        if (!bytes) {
            return flintsearch::unexpected(bytes.error());
        }
        switch (format) {
            case Format::PlainText:
                return read_plain_text(*bytes, limits);
            case Format::Markdown:
                return read_markdown(*bytes, limits);
            case Format::Html:
                return read_html(*bytes, limits);
            case Format::Pdf:
                return read_pdf(*bytes, limits);
            default:
                return read_package(format, *bytes, limits);
        }
    } catch (const std::bad_alloc&) {
        return fail(FailureKind::Crashed, "out of memory (the extractor's address-space limit)");
    } catch (const std::exception& e) {
        return fail(FailureKind::Malformed, std::string("parser failed: ") + e.what());
    }
}

}  // namespace flintmill::extract
