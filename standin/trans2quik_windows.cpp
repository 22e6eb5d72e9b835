// The stand-in transaction library for Windows: passes transaction texts through a message pipe
// to the stand-in terminal that serves the folder named at connect. The functions are stdcall,
// as the terminal's own library has them.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "system.h"
#include "terminal_link.h"
#include "trans2quik_results.h"

// Exported by the .def file alone: a dllexport would add the export names mingw makes up itself.
#define STANDIN_EXPORT extern "C"

using namespace standin;

namespace {

std::mutex lock;
HANDLE connection = INVALID_HANDLE_VALUE;

void closeConnection() {
    if (connection != INVALID_HANDLE_VALUE) CloseHandle(connection);
    connection = INVALID_HANDLE_VALUE;
}

HANDLE openPipe(const std::string& name) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        HANDLE pipe = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (pipe != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PIPE_BUSY) return pipe;
        WaitNamedPipeA(name.c_str(), 2000);
    }
    return INVALID_HANDLE_VALUE;
}

// The stand-in's first message, waited for up to two seconds; empty when none came.
std::string readGreeting(HANDLE pipe) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    DWORD waiting = 0;
    while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr) && waiting == 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (waiting == 0) return "";
    char greeting[4200];
    DWORD got = 0;
    if (!ReadFile(pipe, greeting, sizeof greeting, &got, nullptr)) return "";
    return std::string(greeting, got);
}

}  // namespace

STANDIN_EXPORT std::int32_t __stdcall TRANS2QUIK_CONNECT(char* connectionString, std::int32_t* extendedErrorCode,
                                                          char* errorMessage, std::uint32_t errorMessageSize) {
    std::lock_guard guard(lock);
    closeConnection();
    std::string folder = connectionString ? connectionString : "";
    std::string canonical = canonicalFolder(folder);
    if (canonical.empty())
        return answer(TerminalNotFound, static_cast<long>(GetLastError()), "terminal folder not found: " + folder,
                      extendedErrorCode, errorMessage, errorMessageSize);

    HANDLE pipe = openPipe("\\\\.\\pipe\\" + linkName(canonical));
    if (pipe == INVALID_HANDLE_VALUE)
        return answer(TerminalNotFound, static_cast<long>(GetLastError()), "no terminal serves " + canonical,
                      extendedErrorCode, errorMessage, errorMessageSize);
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
    // The greeting proves that the terminal at the other end serves this very folder.
    if (readGreeting(pipe) != linkGreeting(canonical)) {
        DWORD error = GetLastError();
        CloseHandle(pipe);
        return answer(TerminalNotFound, static_cast<long>(error), "the terminal did not answer for " + canonical,
                      extendedErrorCode, errorMessage, errorMessageSize);
    }
    connection = pipe;
    return answer(Success, 0, "", extendedErrorCode, errorMessage, errorMessageSize);
}

STANDIN_EXPORT std::int32_t __stdcall TRANS2QUIK_DISCONNECT(std::int32_t* extendedErrorCode, char* errorMessage,
                                                             std::uint32_t errorMessageSize) {
    std::lock_guard guard(lock);
    if (connection == INVALID_HANDLE_VALUE)
        return answer(NotConnected, 0, "not connected", extendedErrorCode, errorMessage, errorMessageSize);
    closeConnection();
    return answer(Success, 0, "", extendedErrorCode, errorMessage, errorMessageSize);
}

STANDIN_EXPORT std::int32_t __stdcall TRANS2QUIK_SEND_ASYNC_TRANSACTION(char* transactionString,
                                                                         std::int32_t* extendedErrorCode,
                                                                         char* errorMessage,
                                                                         std::uint32_t errorMessageSize) {
    std::lock_guard guard(lock);
    if (connection == INVALID_HANDLE_VALUE)
        return answer(NotConnected, 0, "not connected", extendedErrorCode, errorMessage, errorMessageSize);
    if (!transactionString)
        return answer(Failed, ERROR_INVALID_PARAMETER, "no transaction text", extendedErrorCode, errorMessage,
                      errorMessageSize);
    // A closed terminal shows as a broken pipe; checking first keeps the text from vanishing.
    DWORD written = 0;
    DWORD length = static_cast<DWORD>(std::strlen(transactionString));
    if (!PeekNamedPipe(connection, nullptr, 0, nullptr, nullptr, nullptr) ||
        !WriteFile(connection, transactionString, length, &written, nullptr) || written != length) {
        DWORD error = GetLastError();
        closeConnection();
        return answer(TerminalGone, static_cast<long>(error), "terminal gone", extendedErrorCode, errorMessage,
                      errorMessageSize);
    }
    return answer(Success, 0, "", extendedErrorCode, errorMessage, errorMessageSize);
}
