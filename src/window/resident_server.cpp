#include "window/resident_server.hpp"

#include <glib-unix.h>
#include <sys/socket.h>

#include <cerrno>
#include <string_view>
#include <utility>

#include "util/handover.hpp"
#include "util/unix_socket.hpp"

namespace flintsearch::window {

struct ResidentServer::Connection {
    ResidentServer* server = nullptr;
    util::UniqueFd fd;
    std::string got;
    bool ready_sent = false;
    guint read_source = 0;
    guint timer = 0;

    ~Connection() {
        if (read_source != 0) {
            g_source_remove(read_source);
        }
        if (timer != 0) {
            g_source_remove(timer);
        }
    }
};

ResidentServer::ResidentServer(util::UniqueFd listener, std::function<void()> toggle)
    : listener_(std::move(listener)), toggle_(std::move(toggle)) {
    listener_source_ = g_unix_fd_add(listener_.get(), G_IO_IN, on_listener, this);
}

ResidentServer::~ResidentServer() {
    connections_.clear();
    if (listener_source_ != 0) {
        g_source_remove(listener_source_);
    }
}

gboolean ResidentServer::on_listener(gint /*fd*/, GIOCondition /*condition*/, gpointer self) {
    static_cast<ResidentServer*>(self)->accept_one();
    return G_SOURCE_CONTINUE;
}

void ResidentServer::accept_one() {
    util::UniqueFd fd(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!fd || !util::peer_accepted(fd.get(), util::PeerRule::ThisUser)) {
        return;  // closed at once: the start goes its own way
    }
    auto connection = std::make_unique<Connection>();
    connection->server = this;
    connection->fd = std::move(fd);
    connection->read_source =
        g_unix_fd_add(connection->fd.get(), G_IO_IN, on_readable, connection.get());
    connection->timer =
        g_timeout_add(static_cast<guint>(EXCHANGE_LIMIT.count()), on_expired, connection.get());
    connections_.push_back(std::move(connection));
    if (connections_.size() >= MAX_CONNECTIONS) {
        // The rest wait in the listen queue until an exchange ends, rather
        // than being closed and starting launchers of their own.
        g_source_remove(listener_source_);
        listener_source_ = 0;
    }
}

gboolean ResidentServer::on_readable(gint fd, GIOCondition /*condition*/, gpointer data) {
    auto* connection = static_cast<Connection*>(data);
    ResidentServer* server = connection->server;
    char buffer[16];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        return G_SOURCE_CONTINUE;
    }
    if (n <= 0 || connection->got.size() + static_cast<std::size_t>(n) > 16) {
        connection->read_source = 0;  // the source ends with this return
        server->finish(connection);
        return G_SOURCE_REMOVE;
    }
    connection->got.append(buffer, static_cast<std::size_t>(n));
    if (!connection->ready_sent && connection->got == util::HANDOVER_TOGGLE) {
        connection->got.clear();
        connection->ready_sent =
            ::send(fd, util::HANDOVER_READY.data(), util::HANDOVER_READY.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(util::HANDOVER_READY.size());
        if (connection->ready_sent) {
            return G_SOURCE_CONTINUE;
        }
    } else if (connection->ready_sent && connection->got == util::HANDOVER_GO) {
        connection->read_source = 0;
        server->finish(connection);
        server->toggle_();
        return G_SOURCE_REMOVE;
    } else if (std::string_view(util::HANDOVER_TOGGLE).starts_with(connection->got) ||
               (connection->ready_sent &&
                std::string_view(util::HANDOVER_GO).starts_with(connection->got))) {
        return G_SOURCE_CONTINUE;  // the rest of the line is on its way
    }
    connection->read_source = 0;
    server->finish(connection);
    return G_SOURCE_REMOVE;
}

gboolean ResidentServer::on_expired(gpointer data) {
    auto* connection = static_cast<Connection*>(data);
    connection->timer = 0;  // the source ends with this return
    connection->server->finish(connection);
    return G_SOURCE_REMOVE;
}

void ResidentServer::finish(Connection* connection) {
    connections_.remove_if([connection](const auto& held) { return held.get() == connection; });
    if (listener_source_ == 0 && connections_.size() < MAX_CONNECTIONS) {
        listener_source_ = g_unix_fd_add(listener_.get(), G_IO_IN, on_listener, this);
    }
}

}  // namespace flintsearch::window
