// flintmill-extract: the daemon's extraction worker. It reads requests on
// standard input and answers on standard output (see channel.hpp) until
// its input ends. Everything it parses is untrusted, so before the first
// request it limits itself: address space, CPU time per file, no file
// writes, a handful of descriptors, no core dumps; the daemon adds the
// wall-clock deadline and kills it past that.
//
//   flintmill-extract [--deadline-ms N] [--max-text-bytes N] ...   (see channel.cpp)
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "flintmill/extract/channel.hpp"
#include "flintmill/extract/worker.hpp"
#include "util/unique_fd.hpp"

namespace {

using namespace flintmill::extract;

void say(const char* message) {
    const std::string line = std::string("flintmill-extract: ") + message + "\n";
    flintsearch::util::write_all(STDERR_FILENO, line);
}

bool set_limit(int resource, rlim_t soft, rlim_t hard) {
    const rlimit limit{soft, hard};
    return ::setrlimit(resource, &limit) == 0;
}

bool set_limit(int resource, rlim_t value) {
    return set_limit(resource, value, value);
}

// The fixed limits. RLIMIT_FSIZE 0 makes any write to a file fail (and
// raise SIGXFSZ); the pipes are not files. Under AddressSanitizer the
// address-space limit is left out: its shadow memory alone reserves
// terabytes of address space.
bool limit_self(const Limits& limits) {
    bool ok = set_limit(RLIMIT_FSIZE, 0) && set_limit(RLIMIT_CORE, 0) &&
              set_limit(RLIMIT_NOFILE, 16) && set_limit(RLIMIT_NPROC, 0);
#if !defined(__SANITIZE_ADDRESS__)
    ok = ok && set_limit(RLIMIT_AS, limits.address_space_bytes);
#else
    (void)limits;
#endif
    // Nothing this process runs can gain privileges (set-user-ID programs).
    return ok && ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
}

// RLIMIT_CPU counts the process's whole life, and the worker lives for
// many files: before each one the soft limit moves to what has been used
// plus the deadline and a second, so a file spinning in a parser is
// stopped (SIGXCPU) even if the daemon is not there to kill it.
void limit_cpu_for_next_file(const Limits& limits) {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto used = static_cast<rlim_t>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec);
    const auto allowed = static_cast<rlim_t>(limits.deadline.count() / 1000 + 2);
    set_limit(RLIMIT_CPU, used + allowed, RLIM_INFINITY);
}

// Reads exactly size bytes; false at the end of input or on an error.
bool read_exactly(int fd, char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::read(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const auto limits = limits_from_args(args);
    if (!limits) {
        say("usage: flintmill-extract [--deadline-ms N] [--max-text-bytes N] ...");
        return 2;
    }
    // The requests and replies move to descriptors of their own, and
    // standard output becomes standard error: a library that prints can
    // then never corrupt a reply. Every other inherited descriptor closes.
    ::close_range(3, ~0U, 0);
    const int requests = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    const int replies = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (requests < 0 || replies < 0 || null < 0 || ::dup2(null, STDIN_FILENO) < 0 ||
        ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        say("cannot set up its descriptors");
        return 1;
    }
    ::close(null);
    if (!limit_self(*limits)) {
        say("cannot limit itself");
        return 1;
    }
    init_readers();

    for (;;) {
        char size_bytes[4];
        if (!read_exactly(requests, size_bytes, 4)) {
            return 0;  // the daemon closed the pipe (or is gone)
        }
        std::uint32_t size;
        std::memcpy(&size, size_bytes, 4);
        if (size > MAX_PATH_BYTES) {
            say("request too long");
            return 1;
        }
        std::string path(size, '\0');
        if (!read_exactly(requests, path.data(), size)) {
            return 0;
        }
        limit_cpu_for_next_file(*limits);
        const Outcome outcome = path.find('\0') == std::string::npos
                                    ? extract_file(path, *limits)
                                    : fail(FailureKind::Unreadable, "a path with a NUL byte");
        if (!flintsearch::util::write_all(replies, encode_reply(outcome))) {
            return 0;
        }
        // After running out of memory the heap is suspect; a fresh worker
        // takes the next file.
        if (!outcome && outcome.error().kind == FailureKind::Crashed) {
            return 1;
        }
    }
}
