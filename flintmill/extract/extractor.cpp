#include "flintmill/extract/extractor.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <thread>

#include "flint/text.hpp"
#include "flintmill/extract/channel.hpp"
#include "flintmill/extract/format.hpp"
#include "util/spawn.hpp"

#ifndef FLINTMILL_LIBEXECDIR
#define FLINTMILL_LIBEXECDIR "/usr/libexec/flintmill"
#endif

namespace flintmill::extract {
namespace {

using Clock = std::chrono::steady_clock;
using flintsearch::unexpected;

Failure failure(FailureKind kind, std::string message) {
    return Failure{kind, std::move(message)};
}

enum class Read { Done, Timeout, Closed };

// Reads exactly size bytes from a blocking pipe, waiting in poll so the
// deadline holds however the worker trickles its reply.
Read read_by(int fd, char* data, std::size_t size, Clock::time_point deadline) {
    while (size > 0) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return Read::Timeout;
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 60'000)));
        if (ready < 0 && errno != EINTR) {
            return Read::Closed;
        }
        if (ready <= 0) {
            continue;
        }
        const ssize_t n = ::read(fd, data, size);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            return Read::Closed;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return Read::Done;
}

// Writes to the worker's pipe without the SIGPIPE a dead worker would send
// to the whole daemon: the signal is blocked on this thread for the write,
// and one the write raised is taken before the mask is restored.
bool write_to_pipe(int fd, std::string_view bytes) {
    sigset_t pipe_signal;
    sigset_t previous;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous);
    const bool ok = flintsearch::util::write_all(fd, bytes);
    if (!ok && errno == EPIPE) {
        const timespec now{0, 0};
        while (sigtimedwait(&pipe_signal, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return ok;
}

std::string describe(int status) {
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        return "the extractor died of signal " + std::to_string(sig) + " (" + ::strsignal(sig) +
               ")";
    }
    if (WIFEXITED(status)) {
        return "the extractor exited with status " + std::to_string(WEXITSTATUS(status));
    }
    return "the extractor stopped";
}

}  // namespace

// The running worker and the daemon's ends of its pipes. Ending it closes
// its input, which it takes as the signal to exit; one that does not within
// a moment is killed. It is always reaped, so it never lingers as a zombie.
struct Extractor::Worker {
    pid_t pid = -1;
    flintsearch::util::UniqueFd requests;
    flintsearch::util::UniqueFd replies;
    std::optional<int> status;  // set once reaped

    Worker() = default;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    ~Worker() { end(std::chrono::milliseconds(500)); }

    // Closes the pipes and reaps the worker, killing it when it has not
    // exited within grace; returns its wait status.
    int end(std::chrono::milliseconds grace) {
        requests.reset();
        replies.reset();
        if (status) {
            return *status;
        }
        const auto give_up = Clock::now() + grace;
        int st = 0;
        for (;;) {
            const pid_t r = ::waitpid(pid, &st, WNOHANG);
            if (r == pid || (r < 0 && errno != EINTR)) {
                break;
            }
            if (r == 0 && Clock::now() >= give_up) {
                ::kill(pid, SIGKILL);
                st = flintsearch::util::wait_for(pid).value_or(st);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        status = st;
        return st;
    }

    void kill_now() {
        if (!status) {
            ::kill(pid, SIGKILL);
        }
        end(std::chrono::milliseconds(0));
    }
};

bool is_supported(std::string_view path) {
    return format_of(path) != Format::None;
}

std::string title_from_file_name(std::string_view path) {
    const auto slash = path.rfind('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const auto dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0) {
        name = name.substr(0, dot);
    }
    return flint::to_utf8_lossy(name);
}

Extractor::Extractor(std::string worker, Limits limits)
    : worker_path_(std::move(worker)), limits_(limits) {}

Extractor::~Extractor() = default;

flintsearch::Result<Document, Failure> Extractor::extract(const std::string& path) {
    if (!is_supported(path)) {
        return unexpected(failure(FailureKind::Unsupported, "not a format that is read"));
    }
    if (path.size() > MAX_PATH_BYTES || path.find('\0') != std::string::npos) {
        return unexpected(failure(FailureKind::Unreadable, "not a usable path"));
    }
    const std::string request = encode_request(path);
    // A worker that died while idle (out-of-memory killer, a stray signal)
    // is only noticed on writing; a fresh one then takes the request.
    bool sent = false;
    for (int attempt = 0; attempt < 2 && !sent; ++attempt) {
        if (!worker_) {
            flintsearch::util::SpawnSpec spec;
            spec.argv.push_back(worker_path_);
            for (auto& arg : limits_to_args(limits_)) {
                spec.argv.push_back(std::move(arg));
            }
            spec.in = flintsearch::util::Stream::Pipe;
            spec.out = flintsearch::util::Stream::Pipe;
            auto child = flintsearch::util::spawn(spec);
            if (!child) {
                return unexpected(
                    failure(FailureKind::Crashed, "cannot start the extractor " + worker_path_));
            }
            worker_ = std::make_unique<Worker>();
            worker_->pid = child->pid;
            worker_->requests = std::move(child->in);
            worker_->replies = std::move(child->out);
        }
        sent = write_to_pipe(worker_->requests.get(), request);
        if (!sent) {
            worker_.reset();
        }
    }
    if (!sent) {
        return unexpected(failure(FailureKind::Crashed, "the extractor takes no requests"));
    }

    const auto deadline = Clock::now() + limits_.deadline;
    // Whatever went wrong below, this worker is done: reaped, and replaced
    // on the next call.
    const auto lost = [&](Read how, std::string_view what) {
        if (how == Read::Timeout) {
            worker_->kill_now();
            worker_.reset();
            return failure(FailureKind::Timeout,
                           "took longer than " + std::to_string(limits_.deadline.count()) + " ms");
        }
        if (how == Read::Closed) {
            const int status = worker_->end(std::chrono::milliseconds(1000));
            worker_.reset();
            const bool cpu = WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU;
            return failure(cpu ? FailureKind::Timeout : FailureKind::Crashed, describe(status));
        }
        worker_->kill_now();
        worker_.reset();
        return failure(FailureKind::Crashed, "the extractor sent " + std::string(what));
    };

    char header_bytes[REPLY_HEADER_BYTES];
    if (const Read r = read_by(worker_->replies.get(), header_bytes, sizeof header_bytes, deadline);
        r != Read::Done) {
        return unexpected(lost(r, ""));
    }
    const auto header = decode_reply_header(std::string_view(header_bytes, sizeof header_bytes),
                                            MAX_TITLE_BYTES, limits_.max_text_bytes);
    if (!header) {
        return unexpected(lost(Read::Done, "a malformed reply"));
    }
    std::string first(header->first, '\0');
    std::string second(header->second, '\0');
    for (std::string* part : {&first, &second}) {
        if (const Read r = read_by(worker_->replies.get(), part->data(), part->size(), deadline);
            r != Read::Done) {
            return unexpected(lost(r, ""));
        }
    }
    if (header->status != 0) {
        const auto kind = static_cast<FailureKind>(header->status - 1);
        if (kind == FailureKind::Crashed) {
            // The worker exits after such a failure; reap it now.
            worker_.reset();
        }
        return unexpected(failure(kind, flint::to_utf8_lossy(first)));
    }
    if (!flint::is_valid_utf8(first) || !flint::is_valid_utf8(second)) {
        return unexpected(lost(Read::Done, "text that is not UTF-8"));
    }
    Document doc{std::move(first), std::move(second)};
    if (doc.title.empty()) {
        doc.title = title_from_file_name(path);
    }
    return doc;
}

std::string find_worker() {
    const auto usable = [](const std::string& path) {
        return !path.empty() && ::access(path.c_str(), X_OK) == 0;
    };
    if (const char* env = std::getenv("FLINTMILL_EXTRACT"); env != nullptr && *env != '\0') {
        return usable(env) ? std::string(env) : std::string();
    }
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string beside(self, static_cast<std::size_t>(n));
        beside.resize(beside.rfind('/') + 1);
        beside += "flintmill-extract";
        if (usable(beside)) {
            return beside;
        }
    }
    const std::string installed = FLINTMILL_LIBEXECDIR "/flintmill-extract";
    return usable(installed) ? installed : std::string();
}

}  // namespace flintmill::extract
