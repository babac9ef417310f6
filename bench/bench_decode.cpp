// Decoding throughput of daemon replies: decode_response on a reply line
// held in memory, and a whole send_request_to exchange against a daemon on
// a local Unix socket (a thread of this program), for replies of 1 MiB and
// 64 MiB (the largest reply line the client accepts).
//
//   bench_decode [--quick]
//
// Prints one line per case: size, best and median time, throughput.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

#include "client/socket_client.hpp"
#include "wire/protocol.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using flintsearch::client::Hits;

// A hits reply of exactly `bytes` bytes (line feed excluded): hits with
// realistic members, the last snippet padded to hit the size.
std::string hits_reply(std::size_t bytes) {
    const std::string head = "{\"type\":\"hits\",\"hits\":[";
    const std::string tail = "]}";
    const std::string hit =
        "{\"title\":\"Quarterly report 2026 \\u2014 draft\",\"path\":\"/home/u/Documents/reports/"
        "q3-2026-draft.pdf\",\"snippet\":\"Revenue grew in the third quarter, while costs for "
        "hosting and support stayed flat.\\nSecond line of the snippet.\",\"score\":0.8731}";
    std::string out = head;
    while (out.size() + hit.size() + 1 + tail.size() + 200 < bytes) {
        if (out.size() > head.size()) {
            out += ',';
        }
        out += hit;
    }
    const std::string pad_head = ",{\"title\":\"pad\",\"path\":\"/p\",\"score\":0.1,\"snippet\":\"";
    const std::string pad_tail = "\"}";
    const std::size_t used = out.size() + pad_head.size() + pad_tail.size() + tail.size();
    out += pad_head;
    out.append(bytes - used, 'x');
    out += pad_tail;
    out += tail;
    return out;
}

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Figures {
    double best = 0;
    double median = 0;
};

template <class F>
Figures measure(int runs, F&& body) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        body();
        times.push_back(ms(Clock::now() - start));
    }
    std::sort(times.begin(), times.end());
    return {times.front(), times[times.size() / 2]};
}

void print(const char* what, std::size_t bytes, std::size_t hits, const Figures& f) {
    const double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
    std::printf("%-16s %6.0f MiB  %7zu hits  best %9.2f ms  median %9.2f ms  %7.1f MiB/s\n", what,
                mib, hits, f.best, f.median, mib / (f.median / 1000.0));
}

// A daemon on a Unix socket that answers every connection with `reply`.
class LocalDaemon {
  public:
    LocalDaemon(std::string path, const std::string& reply) : path_(std::move(path)) {
        line_ = reply + "\n";
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path_.c_str());
        ::unlink(path_.c_str());
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(fd_, 8) != 0) {
            std::perror("bench_decode: daemon socket");
            std::exit(1);
        }
        thread_ = std::thread([this] { serve(); });
    }
    ~LocalDaemon() {
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        thread_.join();
        ::unlink(path_.c_str());
    }
    LocalDaemon(const LocalDaemon&) = delete;
    LocalDaemon& operator=(const LocalDaemon&) = delete;

  private:
    void serve() {
        for (;;) {
            const int conn = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (conn < 0) {
                return;
            }
            char buf[4096];
            while (true) {  // the request line
                const ssize_t n = ::recv(conn, buf, sizeof buf, 0);
                if (n <= 0 || std::memchr(buf, '\n', static_cast<std::size_t>(n)) != nullptr) {
                    break;
                }
            }
            std::string_view rest = line_;
            while (!rest.empty()) {
                const ssize_t n = ::send(conn, rest.data(), rest.size(), MSG_NOSIGNAL);
                if (n <= 0) {
                    break;
                }
                rest.remove_prefix(static_cast<std::size_t>(n));
            }
            ::close(conn);
        }
    }

    std::string path_;
    std::string line_;
    int fd_ = -1;
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    char dir_template[] = "/tmp/bench-decode.XXXXXX";
    const char* dir = ::mkdtemp(dir_template);
    if (dir == nullptr) {
        std::perror("bench_decode: mkdtemp");
        return 1;
    }
    const std::string socket = std::string(dir) + "/flintmill.sock";

    struct Case {
        std::size_t bytes;
        int runs;
    };
    const Case cases[] = {{std::size_t{1} << 20, quick ? 5 : 20},
                          {flintsearch::client::MAX_REPLY_BYTES, quick ? 1 : 3}};
    for (const Case& c : cases) {
        const std::string reply = hits_reply(c.bytes);
        std::size_t hits = 0;
        const Figures decode = measure(c.runs, [&] {
            auto response = flintsearch::client::decode_response(reply);
            if (!response || !std::holds_alternative<Hits>(*response)) {
                std::fprintf(stderr, "bench_decode: reply did not decode\n");
                std::exit(1);
            }
            hits = std::get<Hits>(*response).hits.size();
        });
        print("decode_response", reply.size(), hits, decode);

        LocalDaemon daemon(socket, reply);
        const flintsearch::client::Query query{"quarterly report", 10};
        const Figures exchange = measure(c.runs, [&] {
            auto response = flintsearch::client::send_request_to(
                socket, query, flintsearch::client::ExchangeLimits{});
            if (!response || !std::holds_alternative<Hits>(*response)) {
                std::fprintf(stderr, "bench_decode: exchange failed: %s\n",
                             response ? "not hits" : response.error().text.c_str());
                std::exit(1);
            }
        });
        print("send_request_to", reply.size(), hits, exchange);
    }
    ::rmdir(dir);
    return 0;
}
