#include "screenshot/capture.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <thread>
#include <utility>

#include "flint/text.hpp"
#include "util/program.hpp"
#include "util/spawn.hpp"
#include "util/unique_fd.hpp"

namespace flintsearch::screenshot {
namespace {

// How long the readers may keep going after the child has gone. A child that
// exits normally leaves its pipes at end-of-file almost at once; this only
// matters when something the child started still holds a write end open,
// which would otherwise keep a reader (and so the caller) blocked forever.
constexpr std::chrono::milliseconds READER_GRACE{250};

using util::UniqueFd;

// Reads fd to its end into buffer. Stops early on a read error (keeping what
// came so far) or once stop_fd becomes readable.
void drain(int fd, int stop_fd, std::string& buffer) {
    char chunk[16384];
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[0].revents == 0) {
            return;  // only the stop signal
        }
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (n == 0) {
            return;
        }
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

// One reader thread and its buffer. done_ turns true when the thread is about
// to return, so the caller can wait for it with a bound.
class Reader {
  public:
    Reader(int fd, int stop_fd) {
        thread_ = std::thread([this, fd, stop_fd] {
            try {
                drain(fd, stop_fd, buffer_);
            } catch (...) {
                buffer_.clear();  // an abnormal end counts as nothing read
            }
            done_.store(true, std::memory_order_release);
        });
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    ~Reader() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    bool done() const { return done_.load(std::memory_order_acquire); }
    std::string take() {
        thread_.join();
        return std::move(buffer_);
    }

  private:
    std::string buffer_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// Kills the child and everything in its process group, then reaps it. The
// group matters for wrappers (a shell script, say) whose own children would
// otherwise live on holding the output pipes.
void kill_and_reap(pid_t pid) {
    if (::kill(-pid, SIGKILL) != 0) {
        ::kill(pid, SIGKILL);
    }
    util::wait_for(pid);
}

// Polls the child every POLL_INTERVAL until it exits or limit has passed.
bool wait_with_limit(pid_t pid, std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;  // the check itself failed: report, don't kill
        }
        const auto elapsed = Clock::now() - start;
        if (elapsed >= limit) {
            kill_and_reap(pid);
            return false;
        }
        const auto remaining =
            std::chrono::duration_cast<std::chrono::milliseconds>(limit - elapsed);
        std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(POLL_INTERVAL, remaining));
    }
}

// Gives the readers READER_GRACE to reach end-of-file, then tells them to stop.
void finish_readers(Reader& out, Reader& err, int stop_write_fd) {
    const auto deadline = std::chrono::steady_clock::now() + READER_GRACE;
    while (!(out.done() && err.done()) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!(out.done() && err.done())) {
        util::write_all(stop_write_fd, std::string_view("\0", 1));
    }
}

CommandOutcome run_unguarded(const std::string& program, const std::vector<std::string>& args,
                             std::chrono::milliseconds limit) {
    int stop_fds[2];
    if (::pipe2(stop_fds, O_CLOEXEC) != 0) {
        return {};
    }
    const UniqueFd stop_read(stop_fds[0]);
    const UniqueFd stop_write(stop_fds[1]);

    util::SpawnSpec spec{.argv = {program},
                         .in = util::Stream::Null,
                         .out = util::Stream::Pipe,
                         .err = util::Stream::Pipe,
                         // The tool's messages come out untranslated.
                         .env = {{"LC_ALL", "C"}, {"LANG", "C"}},
                         .own_process_group = true};
    spec.argv.insert(spec.argv.end(), args.begin(), args.end());
    std::optional<util::Child> child = util::spawn(spec);
    if (!child) {
        return {};
    }

    std::optional<Reader> out_reader;
    std::optional<Reader> err_reader;
    try {
        out_reader.emplace(child->out.get(), stop_read.get());
        err_reader.emplace(child->err.get(), stop_read.get());
    } catch (...) {
        // No second thread: give up on the child, and release a reader that
        // did start before its destructor joins it.
        kill_and_reap(child->pid);
        util::write_all(stop_write.get(), std::string_view("\0", 1));
        throw;
    }

    CommandOutcome outcome;
    outcome.success = wait_with_limit(child->pid, limit);
    finish_readers(*out_reader, *err_reader, stop_write.get());
    outcome.stdout_bytes = out_reader->take();
    outcome.stderr_bytes = err_reader->take();
    return outcome;
}

// Creates dir and every missing ancestor with mode 0777 (before the umask).
// An existing directory is fine.
bool create_directories(const std::string& dir) {
    for (std::size_t i = 1; i < dir.size(); ++i) {
        if (dir[i] == '/' && dir[i - 1] != '/') {
            const std::string prefix = dir.substr(0, i);
            if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        return false;
    }
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The directory part of path: everything before the last "/" (trailing
// slashes of that part dropped), "/" for a file in the root, empty for a bare
// file name.
std::string parent_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {};
    }
    std::size_t end = slash;
    while (end > 0 && path[end - 1] == '/') {
        --end;
    }
    return end == 0 ? std::string("/") : path.substr(0, end);
}

std::string too_large(const char* what, std::uint32_t value) {
    return std::string(what) + " " + std::to_string(value) +
           " is too large for a capture (at most " +
           std::to_string(std::numeric_limits<std::int32_t>::max()) + ")";
}

}  // namespace

CommandOutcome run_with_timeout(const std::string& program, const std::vector<std::string>& args,
                                std::chrono::milliseconds limit) {
    try {
        return run_unguarded(program, args, limit);
    } catch (...) {
        // Out of memory or no thread could be started: report as a failed run.
        return {};
    }
}

std::string capture_geometry(std::int32_t x, std::int32_t y, std::int32_t width,
                             std::int32_t height) {
    return std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(width) + "x" +
           std::to_string(height);
}

Result<void, CaptureError> capture_view(std::int32_t x, std::int32_t y, std::int32_t width,
                                        std::int32_t height, const std::string& output) {
    const std::string parent = parent_of(output);
    if (!parent.empty() && !create_directories(parent)) {
        return unexpected(CaptureError{"creating " + flint::to_utf8_lossy(parent)});
    }
    if (!flint::is_valid_utf8(output)) {
        return unexpected(CaptureError{"output path is not valid UTF-8"});
    }
    const std::string geometry = capture_geometry(x, y, width, height);
    const CommandOutcome outcome =
        run_with_timeout("grim", {"-g", geometry, output}, CAPTURE_TIMEOUT);
    if (outcome.success) {
        return {};
    }
    const std::string error_text = flint::to_utf8_lossy(outcome.stderr_bytes);
    return unexpected(CaptureError{"grim failed for geometry " + geometry + ": " +
                                   std::string(flint::trim_white_space(error_text))});
}

Result<void, CaptureError> capture_output(std::uint32_t width, std::uint32_t height,
                                          const std::string& output) {
    constexpr auto max = static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max());
    if (width > max) {
        return unexpected(CaptureError{too_large("width", width)});
    }
    if (height > max) {
        return unexpected(CaptureError{too_large("height", height)});
    }
    return capture_view(0, 0, static_cast<std::int32_t>(width), static_cast<std::int32_t>(height),
                        output);
}

void finish_capture(const Result<void, CaptureError>& result) {
    int status = 0;
    if (!result) {
        util::report("screenshot capture failed: " + result.error().message);
        status = 1;
    }
    // We are inside a GTK timer callback, and search workers may still be
    // running detached. std::exit would run static destructors under their
    // feet; ending the process without them is the safe way out. Nothing of
    // ours needs them: the PNG is complete (grim has exited), and the only
    // buffered output is flushed here.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

}  // namespace flintsearch::screenshot
