// flintsearch's end of the hand-over to a resident instance, against
// scripted listeners: it goes ahead only with a resident of this user that
// answers in time, and the resident hears "go" only then.
#include "util/handover.hpp"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

namespace flintsearch::util {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class Handover : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/handover-test.XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        dir_ = name;
        ::chmod(name, 0755);  // reachable by the other user of the last test
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string socket() const { return (dir_ / "resident.sock").string(); }

    // A listener at socket() whose one connection is handled by `serve`
    // on a thread of its own.
    std::thread serve(std::function<void(int)> serve) {
        auto listener = listen_at(socket());
        EXPECT_TRUE(listener.has_value());
        return std::thread([fd = std::move(*listener), serve]() mutable {
            pollfd p{fd.get(), POLLIN, 0};
            if (::poll(&p, 1, 5000) == 1) {
                UniqueFd conn(::accept(fd.get(), nullptr, nullptr));
                serve(conn.get());
            }
        });
    }

    fs::path dir_;
};

std::string read_some(int fd) {
    char buffer[64];
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 2000) != 1) {
        return "";
    }
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "";
}

TEST_F(Handover, AResidentThatAnswersGetsGo) {
    std::string heard;
    std::thread resident = serve([&heard](int fd) {
        heard = read_some(fd);
        ::send(fd, "ready\n", 6, MSG_NOSIGNAL);
        heard += read_some(fd);
    });
    auto link = ResidentLink::reach(socket());
    ASSERT_TRUE(link.has_value());
    link->go();
    resident.join();
    EXPECT_EQ(heard, "toggle\ngo\n");
    struct stat st {};
    ASSERT_EQ(::stat(socket().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "only this user may connect";
}

TEST_F(Handover, NoResidentMeansAnOrdinaryStart) {
    struct Row {
        const char* name;
        std::function<void()> make;  // leaves socket() as the case needs it
        std::function<void(int)> serve;
    };
    const Row rows[] = {
        {"no socket", [] {}, nullptr},
        {"stale socket (resident killed)",
         [this] { (void)listen_at(socket()); },  // bound, then closed again
         nullptr},
        {"a regular file", [this] { std::ofstream(socket()) << "x"; }, nullptr},
        {"silent until the time-out", nullptr, [](int fd) { (void)read_some(fd); }},
        {"closes at once", nullptr, [](int) {}},
        {"answers something else", nullptr,
         [](int fd) {
             (void)read_some(fd);
             ::send(fd, "hello\n", 6, MSG_NOSIGNAL);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(socket());
        std::thread resident;
        if (row.make) {
            row.make();
        } else {
            resident = serve(row.serve);
        }
        const auto started = std::chrono::steady_clock::now();
        EXPECT_FALSE(ResidentLink::reach(socket(), 200ms).has_value());
        // Generous: only that a silent resident cannot hold the start up.
        EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
        if (resident.joinable()) {
            resident.join();
        }
    }
}

TEST_F(Handover, AListenerOfAnotherUserIsNotAsked) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "needs root to listen as another user";
    }
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(1);
        }
        auto listener = listen_at(socket());
        ::fchmod(listener ? listener->get() : -1, 0666);
        ::chmod(socket().c_str(), 0666);
        (void)::write(ready[1], "x", 1);
        pollfd p{listener ? listener->get() : -1, POLLIN, 0};
        if (::poll(&p, 1, 5000) == 1) {
            UniqueFd conn(::accept(listener->get(), nullptr, nullptr));
            (void)read_some(conn.get());
            ::send(conn.get(), "ready\n", 6, MSG_NOSIGNAL);
        }
        ::_exit(0);
    }
    char byte;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    EXPECT_FALSE(ResidentLink::reach(socket()).has_value());
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST_F(Handover, ListeningReplacesOnlyAStaleSocket) {
    (void)listen_at(socket());
    EXPECT_TRUE(listen_at(socket()).has_value()) << "a stale socket is replaced";
    fs::remove(socket());
    std::ofstream(socket()) << "precious";
    EXPECT_FALSE(listen_at(socket()).has_value());
    EXPECT_EQ(fs::file_size(socket()), 8u) << "anything else is left alone";
}

}  // namespace
}  // namespace flintsearch::util
