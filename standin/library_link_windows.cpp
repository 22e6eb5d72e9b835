// The terminal library's transactions arrive through a message pipe named after the folder.
// A thread accepts connections and one thread per connection reads them, since a pipe cannot
// be waited on together with a timeout the way a socket can be polled. A named mutex keeps a
// folder to one stand-in.
#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "system.h"
#include "terminal_link.h"

namespace standin {

namespace {

// Shared with the pipe threads, which may outlive the link by a moment at exit.
struct Inbox {
    std::string pipeName;
    std::string greeting;
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<std::string> texts;
    bool closing = false;

    void add(std::string text) {
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
        {
            std::lock_guard guard(lock);
            texts.push_back(std::move(text));
        }
        arrived.notify_one();
    }
};

void serveConnection(std::shared_ptr<Inbox> inbox, HANDLE pipe) {
    DWORD written = 0;
    if (WriteFile(pipe, inbox->greeting.data(), static_cast<DWORD>(inbox->greeting.size()), &written, nullptr)) {
        std::string message;
        for (;;) {
            char buffer[65536];
            DWORD got = 0;
            if (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr)) {
                message.append(buffer, got);
                inbox->add(std::move(message));
                message.clear();
            } else if (GetLastError() == ERROR_MORE_DATA) {
                message.append(buffer, got);
            } else {
                break;
            }
        }
    }
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
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
        if (connected)
            std::thread(serveConnection, inbox, pipe).detach();
        else
            CloseHandle(pipe);
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

std::vector<std::string> LibraryLink::wait(std::chrono::milliseconds timeout) {
    Inbox& inbox = *state_->inbox;
    std::unique_lock guard(inbox.lock);
    inbox.arrived.wait_for(guard, std::max(timeout, std::chrono::milliseconds(0)),
                           [&] { return !inbox.texts.empty(); });
    std::vector<std::string> texts;
    texts.swap(inbox.texts);
    return texts;
}

}  // namespace standin
