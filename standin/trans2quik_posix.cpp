// The stand-in transaction library: passes transaction texts to the stand-in terminal
// that serves the folder named at connect.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

#include "system.h"
#include "terminal_socket_posix.h"
#include "trans2quik_results.h"

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

using namespace standin;

namespace {

std::mutex lock;
int connection = -1;

void closeConnection() {
    if (connection >= 0) close(connection);
    connection = -1;
}

}  // namespace

STANDIN_EXPORT std::int32_t TRANS2QUIK_CONNECT(char* connectionString, std::int32_t* extendedErrorCode,
                                                char* errorMessage, std::uint32_t errorMessageSize) {
    std::lock_guard guard(lock);
    closeConnection();
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
    return answer(Success, 0, "", extendedErrorCode, errorMessage, errorMessageSize);
}

STANDIN_EXPORT std::int32_t TRANS2QUIK_DISCONNECT(std::int32_t* extendedErrorCode, char* errorMessage,
                                                   std::uint32_t errorMessageSize) {
    std::lock_guard guard(lock);
    if (connection < 0) return answer(NotConnected, 0, "not connected", extendedErrorCode, errorMessage, errorMessageSize);
    closeConnection();
    return answer(Success, 0, "", extendedErrorCode, errorMessage, errorMessageSize);
}

STANDIN_EXPORT std::int32_t TRANS2QUIK_SEND_ASYNC_TRANSACTION(char* transactionString, std::int32_t* extendedErrorCode,
                                                               char* errorMessage, std::uint32_t errorMessageSize) {
    std::lock_guard guard(lock);
    if (connection < 0) return answer(NotConnected, 0, "not connected", extendedErrorCode, errorMessage, errorMessageSize);
    if (!transactionString)
        return answer(Failed, EINVAL, "no transaction text", extendedErrorCode, errorMessage, errorMessageSize);
    // A closed terminal shows as a hang-up; checking first keeps the text from vanishing into a dead socket.
    pollfd state{connection, POLLRDHUP, 0};
    bool hungUp = poll(&state, 1, 0) == 1 && (state.revents & (POLLHUP | POLLRDHUP | POLLERR));
    if (hungUp || send(connection, transactionString, std::strlen(transactionString), MSG_NOSIGNAL) < 0) {
        int error = hungUp ? EPIPE : errno;
        closeConnection();
        return answer(TerminalGone, error, "terminal gone", extendedErrorCode, errorMessage, errorMessageSize);
    }
    return answer(Success, 0, "", extendedErrorCode, errorMessage, errorMessageSize);
}
