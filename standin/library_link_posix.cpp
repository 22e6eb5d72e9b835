// The terminal library's transactions arrive through a local socket named after the folder.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
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
    int listener = -1;
    std::vector<int> clients;
    std::string greeting;

    ~State() {
        for (int fd : clients) close(fd);
        if (listener >= 0) close(listener);
    }

    std::vector<std::string> receive(const std::vector<pollfd>& ready) {
        std::vector<std::string> texts;
        std::vector<int> closed;
        for (const pollfd& entry : ready) {
            if (entry.revents == 0) continue;
            if (entry.fd == listener) {
                int client;
                while ((client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0) {
                    send(client, greeting.data(), greeting.size(), MSG_NOSIGNAL);
                    clients.push_back(client);
                }
                continue;
            }
            for (;;) {
                char buffer[65536];
                ssize_t got = recv(entry.fd, buffer, sizeof buffer, 0);
                if (got > 0) {
                    texts.push_back(withoutLineEnd(std::string(buffer, static_cast<std::size_t>(got))));
                    continue;
                }
                if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) closed.push_back(entry.fd);
                if (got == 0 || errno != EINTR) break;
            }
        }
        for (int fd : closed) {
            close(fd);
            clients.erase(std::remove(clients.begin(), clients.end(), fd), clients.end());
        }
        return texts;
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

std::vector<std::string> LibraryLink::wait(std::chrono::milliseconds timeout) {
    std::vector<pollfd> set{{state_->listener, POLLIN, 0}};
    for (int fd : state_->clients) set.push_back({fd, POLLIN, 0});
    int ready = poll(set.data(), set.size(), static_cast<int>(std::max<long long>(0, timeout.count())));
    if (ready <= 0) return {};
    return state_->receive(set);
}

}  // namespace standin
