// The terminal library's transactions arrive through a message pipe named after the folder;
// replies and order changes go back through the same pipe. A thread accepts connections and
// one thread per connection reads it, since a pipe cannot be waited on together with a timeout
// the way a socket can be polled. The reading thread looks with PeekNamedPipe and reads only
// what is there, so that the terminal's writes never queue behind a read that blocks. A named
// mutex keeps a folder to one stand-in.
#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "system.h"
#include "terminal_link.h"

namespace standin {

namespace {

struct Connection {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    std::mutex io;  // one operation on the pipe at a time
    bool admitted = false;

    bool write(const std::string& message) {
        std::lock_guard guard(io);
        DWORD written = 0;
        return pipe != INVALID_HANDLE_VALUE &&
               WriteFile(pipe, message.data(), static_cast<DWORD>(message.size()), &written, nullptr);
    }
};

// Shared with the pipe threads, which may outlive the link by a moment at exit.
struct Inbox {
    std::string pipeName;
    std::string greeting;
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<LinkEvent> events;
    std::map<std::uint64_t, std::shared_ptr<Connection>> connections;
    std::uint64_t nextClient = 1;
    bool closing = false;

    void add(LinkEvent event) {
        while (!event.text.empty() && (event.text.back() == '\r' || event.text.back() == '\n')) event.text.pop_back();
        {
            std::lock_guard guard(lock);
            events.push_back(std::move(event));
        }
        arrived.notify_one();
    }

    std::shared_ptr<Connection> find(std::uint64_t client) {
        std::lock_guard guard(lock);
        auto found = connections.find(client);
        return found == connections.end() ? nullptr : found->second;
    }
};

// The next whole message, empty when none is waiting; false when the pipe broke.
bool readMessage(Connection& connection, std::string& message) {
    std::lock_guard guard(connection.io);
    message.clear();
    DWORD waiting = 0;
    if (!PeekNamedPipe(connection.pipe, nullptr, 0, nullptr, &waiting, nullptr)) return false;
    if (waiting == 0) return true;
    for (;;) {
        char buffer[65536];
        DWORD got = 0;
        BOOL done = ReadFile(connection.pipe, buffer, sizeof buffer, &got, nullptr);
        message.append(buffer, got);
        if (done) return true;
        if (GetLastError() != ERROR_MORE_DATA) return false;
    }
}

void serveConnection(std::shared_ptr<Inbox> inbox, std::shared_ptr<Connection> connection) {
    std::uint64_t id = 0;
    if (connection->write(inbox->greeting)) {
        {
            std::lock_guard guard(inbox->lock);
            id = inbox->nextClient++;
            inbox->connections[id] = connection;
        }
        inbox->add({id, true, {}});
        std::string message;
        while (readMessage(*connection, message)) {
            if (!message.empty()) {
                inbox->add({id, false, message});
                continue;
            }
            {
                std::lock_guard guard(inbox->lock);
                if (inbox->closing) break;
            }
            Sleep(2);
        }
    }
    {
        std::lock_guard guard(inbox->lock);
        inbox->connections.erase(id);
    }
    std::lock_guard guard(connection->io);
    DisconnectNamedPipe(connection->pipe);
    CloseHandle(connection->pipe);
    connection->pipe = INVALID_HANDLE_VALUE;
}

void acceptConnections(std::shared_ptr<Inbox> inbox, HANDLE first) {
    HANDLE pipe = first;
    for (;;) {
        BOOL connected = ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
        {
            std::lock_guard guard(inbox->lock);
            if (inbox->closing) {
                CloseHandle(pipe);
                return;
            }
        }
        if (connected) {
            auto connection = std::make_shared<Connection>();
            connection->pipe = pipe;
            std::thread(serveConnection, inbox, connection).detach();
        } else {
            CloseHandle(pipe);
        }
        pipe = CreateNamedPipeA(inbox->pipeName.c_str(), PIPE_ACCESS_DUPLEX,
                                PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
                                65536, 65536, 0, nullptr);
        if (pipe == INVALID_HANDLE_VALUE) return;
    }
}

}  // namespace

struct LibraryLink::State {
    HANDLE claim = nullptr;
    std::shared_ptr<Inbox> inbox = std::make_shared<Inbox>();

    ~State() {
        {
            std::lock_guard guard(inbox->lock);
            inbox->closing = true;
        }
        // A connection of our own wakes the accepting thread, which then sees the link closing.
        HANDLE wake = CreateFileA(inbox->pipeName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (wake != INVALID_HANDLE_VALUE) CloseHandle(wake);
        if (claim) CloseHandle(claim);
    }
};

LibraryLink::LibraryLink(const std::string& canonicalFolder) : state_(std::make_unique<State>()) {
    const std::string name = linkName(canonicalFolder);
    state_->claim = CreateMutexA(nullptr, FALSE, ("Local\\" + name).c_str());
    if (!state_->claim)
        throw std::runtime_error("cannot claim the folder: error " + std::to_string(GetLastError()));
    if (GetLastError() == ERROR_ALREADY_EXISTS)
        throw std::runtime_error("another stand-in already serves this folder");

    state_->inbox->pipeName = "\\\\.\\pipe\\" + name;
    state_->inbox->greeting = linkGreeting(canonicalFolder);
    HANDLE first = CreateNamedPipeA(state_->inbox->pipeName.c_str(),
                                    PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                    PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
                                    65536, 65536, 0, nullptr);
    if (first == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot open the transaction link: error " + std::to_string(GetLastError()));
    std::thread(acceptConnections, state_->inbox, first).detach();
}

LibraryLink::~LibraryLink() = default;

std::vector<LinkEvent> LibraryLink::wait(std::chrono::milliseconds timeout) {
    Inbox& inbox = *state_->inbox;
    std::unique_lock guard(inbox.lock);
    inbox.arrived.wait_for(guard, std::max(timeout, std::chrono::milliseconds(0)),
                           [&] { return !inbox.events.empty(); });
    std::vector<LinkEvent> events;
    events.swap(inbox.events);
    return events;
}

void LibraryLink::send(std::uint64_t client, const std::string& message) {
    if (auto connection = state_->inbox->find(client)) connection->write(message);
}

void LibraryLink::admit(std::uint64_t client) {
    if (auto connection = state_->inbox->find(client)) connection->admitted = true;
}

void LibraryLink::broadcast(const std::string& message) {
    std::vector<std::shared_ptr<Connection>> targets;
    {
        std::lock_guard guard(state_->inbox->lock);
        for (const auto& [id, connection] : state_->inbox->connections)
            if (connection->admitted) targets.push_back(connection);
    }
    for (const auto& connection : targets) connection->write(message);
}

}  // namespace standin
