#include "flintmill/service/server.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "util/handover.hpp"

namespace flintmill::service {
namespace {

namespace wire = flintsearch::wire;
using flintsearch::util::UniqueFd;
using Clock = std::chrono::steady_clock;

struct Connection {
    UniqueFd fd;
    std::string line;
    Clock::time_point deadline;
};

// Sends a small reply without waiting: what the socket buffer does not
// take is dropped with the connection (a reply of an error or status line
// fits any buffer).
void answer_now(int fd, const wire::Response& reply) {
    const std::string line = wire::encode_response(reply);
    (void)::send(fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

// Queries waiting for a query thread.
class QueryQueue {
  public:
    bool push(UniqueFd& fd, wire::Query q, std::size_t max) {
        std::lock_guard lock(mutex_);
        if (jobs_.size() >= max) {
            return false;
        }
        jobs_.push_back({std::move(fd), std::move(q)});
        ready_.notify_one();
        return true;
    }
    bool pop(UniqueFd& fd, wire::Query& q) {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return closed_ || !jobs_.empty(); });
        if (jobs_.empty()) {
            return false;
        }
        fd = std::move(jobs_.front().first);
        q = std::move(jobs_.front().second);
        jobs_.pop_front();
        return true;
    }
    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        ready_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::pair<UniqueFd, wire::Query>> jobs_;
    bool closed_ = false;
};

void query_thread(QueryQueue& queue, const Handlers& handlers, int reply_seconds) {
    auto handle = handlers.make_query();
    UniqueFd fd;
    wire::Query query;
    while (queue.pop(fd, query)) {
        const std::string line = wire::encode_response(handle(query));
        // The reply may be large: blocking writes, bounded in time, so a
        // client that does not read costs this thread at most that long.
        const int flags = ::fcntl(fd.get(), F_GETFL);
        ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
        timeval tv{reply_seconds, 0};
        ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        flintsearch::util::send_all(fd.get(), line);
        fd.reset();
    }
}

// What to do with a complete line (or the bytes a peer sent before it
// stopped): answer it here or hand it to a query thread.
void dispatch(Connection& c, const Handlers& handlers, QueryQueue& queue,
              const ServerLimits& limits) {
    auto request = wire::decode_request(c.line);
    if (!request) {
        answer_now(c.fd.get(), wire::Error{"bad request: " + request.error().description});
        return;
    }
    if (auto* q = std::get_if<wire::Query>(&*request)) {
        if (!queue.push(c.fd, std::move(*q), limits.max_queued)) {
            // push leaves fd alone when it refuses.
            answer_now(c.fd.get(), wire::Error{"flintmill is busy; try again"});
        }
        return;
    }
    if (std::holds_alternative<wire::Status>(*request)) {
        answer_now(c.fd.get(), handlers.status());
        return;
    }
    handlers.reindex();
    answer_now(c.fd.get(), wire::Ok{});
}

// Reads what the peer sent. True when the connection is done with (it was
// answered or dropped).
bool read_some(Connection& c, const Handlers& handlers, QueryQueue& queue,
               const ServerLimits& limits) {
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::recv(c.fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0) {
            return !(errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
        }
        if (n == 0) {
            // The peer stopped sending: what came is the request.
            if (!c.line.empty()) {
                dispatch(c, handlers, queue, limits);
            }
            return true;
        }
        const std::string_view chunk(buffer, static_cast<std::size_t>(n));
        const auto nl = chunk.find('\n');
        c.line.append(chunk.substr(0, nl == std::string_view::npos ? chunk.size() : nl + 1));
        if (c.line.size() > wire::MAX_REQUEST_BYTES) {
            answer_now(c.fd.get(), wire::Error{"request line longer than " +
                                               std::to_string(wire::MAX_REQUEST_BYTES) + " bytes"});
            return true;
        }
        if (nl != std::string_view::npos) {
            dispatch(c, handlers, queue, limits);
            return true;
        }
    }
}

}  // namespace

void serve(UniqueFd listener, int stop_fd, Handlers handlers, ServerLimits limits) {
    // The backlog holds clients while the loop is busy with others.
    ::listen(listener.get(), 128);
    QueryQueue queue;
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < limits.query_threads; ++i) {
        threads.emplace_back(query_thread, std::ref(queue), std::cref(handlers),
                             limits.reply_seconds);
    }
    std::list<Connection> connections;
    std::vector<pollfd> fds;
    for (;;) {
        fds.clear();
        fds.push_back({stop_fd, POLLIN, 0});
        const bool room = connections.size() < limits.max_connections;
        fds.push_back({room ? listener.get() : -1, POLLIN, 0});
        int timeout = -1;
        const auto now = Clock::now();
        for (const Connection& c : connections) {
            fds.push_back({c.fd.get(), POLLIN, 0});
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(c.deadline - now).count();
            const int ms = left <= 0 ? 0 : static_cast<int>(left) + 1;
            timeout = timeout < 0 ? ms : std::min(timeout, ms);
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
            break;
        }
        if (fds[0].revents & POLLIN) {
            break;
        }
        // Connections: answered, dropped or still waiting for their line.
        std::size_t i = 2;
        const auto after = Clock::now();
        for (auto c = connections.begin(); c != connections.end(); ++i) {
            bool done = false;
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                done = read_some(*c, handlers, queue, limits);
            }
            if (!done && after >= c->deadline) {
                answer_now(c->fd.get(), wire::Error{"request line not received in time"});
                done = true;
            }
            c = done ? connections.erase(c) : std::next(c);
        }
        if (fds[1].revents & POLLIN) {
            for (std::size_t accepted = 0; accepted < 64; ++accepted) {
                UniqueFd fd(
                    ::accept4(listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
                if (!fd) {
                    break;
                }
                // Only this user's own processes are answered.
                if (!flintsearch::util::peer_is_this_user(fd.get())) {
                    continue;
                }
                Connection c{
                    std::move(fd), {}, Clock::now() + std::chrono::seconds(limits.line_seconds)};
                // The line is often there already.
                if (!read_some(c, handlers, queue, limits)) {
                    connections.push_back(std::move(c));
                }
            }
        }
    }
    queue.close();
    for (std::thread& t : threads) {
        t.join();
    }
}

}  // namespace flintmill::service
