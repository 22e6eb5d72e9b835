// The stand-in transaction library: passes transaction texts to the stand-in terminal
// that serves the folder named at connect, and a thread of its own reads what the terminal
// reports back and calls the callbacks with it.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "system.h"
#include "terminal_socket_posix.h"
#include "trans2quik_feed.h"
#include "trans2quik_results.h"

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

using namespace standin;

namespace {

std::mutex lock;
int connection = -1;  // what sends use; under `lock`

// Reads the terminal's messages on a thread of its own until told to stop or the terminal
// hangs up; the socket is closed only once that thread is done with it.
class Reader {
public:
    void start(int fd) {
        fd_ = fd;
        stop_ = std::make_shared<std::atomic<bool>>(false);
        thread_ = std::thread(run, fd, stop_);
    }
    void finish() {
        if (stop_) *stop_ = true;
        if (thread_.joinable()) {
            // A callback that reconnects runs on this very thread, which cannot wait for itself.
            if (thread_.get_id() == std::this_thread::get_id()) thread_.detach();
            else thread_.join();
        }
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }
    ~Reader() { finish(); }

private:
    static void run(int fd, std::shared_ptr<std::atomic<bool>> stop) {
        CallbackFeed& feed = callbackFeed();
        while (!*stop) {
            feed.deliverLoad();
            // A short wait, so that a load asked for by START_ORDERS goes out soon.
            pollfd wait{fd, POLLIN, 0};
            if (poll(&wait, 1, 10) != 1) continue;
            char buffer[65536];
            ssize_t got = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got > 0) feed.handle(std::string(buffer, static_cast<std::size_t>(got)));
            else if (got == 0 || (errno != EAGAIN && errno != EINTR)) return;
        }
    }

    int fd_ = -1;
    std::shared_ptr<std::atomic<bool>> stop_;
    std::thread thread_;
};

Reader reader;

// Under `lock`: no more sends. The reader sees the hang-up and ends by itself.
void retireConnection() {
    if (connection >= 0) shutdown(connection, SHUT_RDWR);
    connection = -1;
}

// Not under `lock`, which a callback in flight may be waiting for.
void endConnection() {
    {
        std::lock_guard guard(lock);
        retireConnection();
    }
    reader.finish();
}

}  // namespace

STANDIN_EXPORT std::int32_t TRANS2QUIK_CONNECT(char* connectionString, std::int32_t* extendedErrorCode,
                                                char* errorMessage, std::uint32_t errorMessageSize) {
    endConnection();
    std::lock_guard guard(lock);
    std::string folder = connectionString ? connectionString : "";
    std::string canonical = standin::canonicalFolder(folder);
    if (canonical.empty())
        return answer(TerminalNotFound, errno, "terminal folder not found: " + folder, extendedErrorCode, errorMessage,
                      errorMessageSize);

    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return answer(Failed, errno, std::string("socket: ") + std::strerror(errno), extendedErrorCode, errorMessage,
                      errorMessageSize);
    standin::LinkAddress link = standin::linkAddress(canonical);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&link.address), link.length) != 0) {
        int error = errno;
        close(fd);
        return answer(TerminalNotFound, error, "no terminal serves " + canonical, extendedErrorCode, errorMessage,
                      errorMessageSize);
    }
    // The greeting proves that the terminal at the other end serves this very folder.
    pollfd wait{fd, POLLIN, 0};
    char greeting[4200];
    ssize_t got = poll(&wait, 1, 2000) == 1 ? recv(fd, greeting, sizeof greeting, 0) : -1;
    if (got <= 0 || std::string(greeting, static_cast<std::size_t>(got)) != standin::linkGreeting(canonical)) {
        close(fd);
        return answer(TerminalNotFound, got < 0 ? errno : 0, "the terminal did not answer for " + canonical,
                      extendedErrorCode, errorMessage, errorMessageSize);
    }
    connection = fd;
    callbackFeed().connected();
    reader.start(fd);
    return answer(Success, 0, "", extendedErrorCode, errorMessage, errorMessageSize);
}

STANDIN_EXPORT std::int32_t TRANS2QUIK_DISCONNECT(std::int32_t* extendedErrorCode, char* errorMessage,
                                                   std::uint32_t errorMessageSize) {
    {
        std::lock_guard guard(lock);
        if (connection < 0)
            return answer(NotConnected, 0, "not connected", extendedErrorCode, errorMessage, errorMessageSize);
    }
    endConnection();
    return answer(Success, 0, "", extendedErrorCode, errorMessage, errorMessageSize);
}

STANDIN_EXPORT std::int32_t TRANS2QUIK_SEND_ASYNC_TRANSACTION(char* transactionString, std::int32_t* extendedErrorCode,
                                                               char* errorMessage, std::uint32_t errorMessageSize) {
    std::lock_guard guard(lock);
    if (connection < 0) return answer(NotConnected, 0, "not connected", extendedErrorCode, errorMessage, errorMessageSize);
    if (!transactionString)
        return answer(Failed, EINVAL, "no transaction text", extendedErrorCode, errorMessage, errorMessageSize);
    std::string refusal = libraryRefusal(transactionString);
    if (!refusal.empty()) return answer(WrongSyntax, 0, refusal, extendedErrorCode, errorMessage, errorMessageSize);
    // A closed terminal shows as a hang-up; checking first keeps the text from vanishing into a dead socket.
    pollfd state{connection, POLLRDHUP, 0};
    bool hungUp = poll(&state, 1, 0) == 1 && (state.revents & (POLLHUP | POLLRDHUP | POLLERR));
    if (hungUp || send(connection, transactionString, std::strlen(transactionString), MSG_NOSIGNAL) < 0) {
        int error = hungUp ? EPIPE : errno;
        retireConnection();
        return answer(TerminalGone, error, "terminal gone", extendedErrorCode, errorMessage, errorMessageSize);
    }
    return answer(Success, 0, "", extendedErrorCode, errorMessage, errorMessageSize);
}
