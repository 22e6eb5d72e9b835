// The terminal library's transactions arrive through a local socket named after the folder;
// replies and order changes go back through the same connection.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <stdexcept>

#include "system.h"
#include "terminal_socket_posix.h"

namespace standin {

namespace {

std::string withoutLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    return line;
}

}  // namespace

struct LibraryLink::State {
    struct Client {
        int fd = -1;
        bool admitted = false;
    };

    int listener = -1;
    std::map<std::uint64_t, Client> clients;  // by an id never reused, unlike a descriptor
    std::uint64_t nextClient = 1;
    std::string greeting;

    ~State() {
        for (auto& [id, client] : clients) close(client.fd);
        if (listener >= 0) close(listener);
    }

    void receive(std::uint64_t id, int fd, std::vector<LinkEvent>& events, std::vector<std::uint64_t>& closed) {
        for (;;) {
            char buffer[65536];
            ssize_t got = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got > 0) {
                events.push_back({id, false, withoutLineEnd(std::string(buffer, static_cast<std::size_t>(got)))});
                continue;
            }
            if (got < 0 && errno == EINTR) continue;
            if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) closed.push_back(id);
            return;
        }
    }

    std::vector<LinkEvent> receive(const std::vector<pollfd>& ready, const std::vector<std::uint64_t>& ids) {
        std::vector<LinkEvent> events;
        std::vector<std::uint64_t> closed;
        for (std::size_t i = 0; i < ready.size(); ++i) {
            if (ready[i].revents == 0) continue;
            if (ready[i].fd == listener) {
                int fd;
                while ((fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0) {
                    ::send(fd, greeting.data(), greeting.size(), MSG_NOSIGNAL);
                    std::uint64_t id = nextClient++;
                    clients[id] = {fd, false};
                    events.push_back({id, true, {}});
                }
                continue;
            }
            receive(ids[i], ready[i].fd, events, closed);
        }
        for (std::uint64_t id : closed) {
            close(clients[id].fd);
            clients.erase(id);
        }
        return events;
    }
};

LibraryLink::LibraryLink(const std::string& canonicalFolder) : state_(std::make_unique<State>()) {
    state_->greeting = linkGreeting(canonicalFolder);
    state_->listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (state_->listener < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    LinkAddress link = linkAddress(canonicalFolder);
    if (bind(state_->listener, reinterpret_cast<const sockaddr*>(&link.address), link.length) != 0 ||
        listen(state_->listener, 16) != 0) {
        std::string reason = errno == EADDRINUSE ? "another stand-in already serves this folder" : std::strerror(errno);
        throw std::runtime_error("cannot open the transaction link: " + reason);
    }
}

LibraryLink::~LibraryLink() = default;

std::vector<LinkEvent> LibraryLink::wait(std::chrono::milliseconds timeout) {
    std::vector<pollfd> set{{state_->listener, POLLIN, 0}};
    std::vector<std::uint64_t> ids{0};
    for (const auto& [id, client] : state_->clients) {
        set.push_back({client.fd, POLLIN, 0});
        ids.push_back(id);
    }
    int ready = poll(set.data(), set.size(), static_cast<int>(std::max<long long>(0, timeout.count())));
    if (ready <= 0) return {};
    return state_->receive(set, ids);
}

void LibraryLink::send(std::uint64_t client, const std::string& message) {
    auto found = state_->clients.find(client);
    // A library that stopped reading must not stall the terminal: a full socket drops the message.
    if (found != state_->clients.end())
        ::send(found->second.fd, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

void LibraryLink::admit(std::uint64_t client) {
    auto found = state_->clients.find(client);
    if (found != state_->clients.end()) found->second.admitted = true;
}

void LibraryLink::broadcast(const std::string& message) {
    for (const auto& [id, client] : state_->clients)
        if (client.admitted) ::send(client.fd, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace standin
