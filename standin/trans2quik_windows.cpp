// The stand-in transaction library for Windows: passes transaction texts through a message pipe
// to the stand-in terminal that serves the folder named at connect, and a thread of its own reads
// what the terminal reports back and calls the callbacks with it. The functions are stdcall, as
// the terminal's own library has them.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "system.h"
#include "terminal_link.h"
#include "trans2quik_feed.h"
#include "trans2quik_results.h"

// Exported by the .def file alone: a dllexport would add the export names mingw makes up itself.
#define STANDIN_EXPORT extern "C"

using namespace standin;

namespace {

std::mutex lock;
HANDLE connection = INVALID_HANDLE_VALUE;  // what sends use; under `lock`
// One operation on the pipe at a time: a read that blocked would hold up every write behind it,
// so the reader looks first and reads only what is there.
std::mutex pipeLock;

// Reads the terminal's messages on a thread of its own until told to stop or the pipe breaks;
// the pipe is closed only once that thread is done with it.
class Reader {
public:
    void start(HANDLE pipe) {
        pipe_ = pipe;
        stop_ = std::make_shared<std::atomic<bool>>(false);
        thread_ = std::thread(run, pipe, stop_);
    }
    void finish() {
        if (stop_) *stop_ = true;
        if (thread_.joinable()) {
            // A callback that reconnects runs on this very thread, which cannot wait for itself.
            if (thread_.get_id() == std::this_thread::get_id()) thread_.detach();
            else thread_.join();
        }
        if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
        pipe_ = INVALID_HANDLE_VALUE;
    }
    ~Reader() { finish(); }

private:
    static void run(HANDLE pipe, std::shared_ptr<std::atomic<bool>> stop) {
        CallbackFeed& feed = callbackFeed();
        std::string message;
        while (!*stop) {
            feed.deliverLoad();
            bool broken = false;
            message.clear();
            {
                std::lock_guard guard(pipeLock);
                DWORD waiting = 0;
                if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr)) broken = true;
                while (!broken && waiting > 0) {
                    char buffer[65536];
                    DWORD got = 0;
                    BOOL done = ReadFile(pipe, buffer, sizeof buffer, &got, nullptr);
                    message.append(buffer, got);
                    if (done) break;
                    broken = GetLastError() != ERROR_MORE_DATA;
                }
            }
            if (broken) return;
            if (!message.empty()) feed.handle(message);
            else Sleep(2);
        }
    }

    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    std::shared_ptr<std::atomic<bool>> stop_;
    std::thread thread_;
};

Reader reader;

// Under `lock`: no more sends. The reader ends when told to or when the pipe breaks.
void retireConnection() {
    connection = INVALID_HANDLE_VALUE;
}

// Not under `lock`, which a callback in flight may be waiting for.
void endConnection() {
    {
        std::lock_guard guard(lock);
        retireConnection();
    }
    reader.finish();
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
    endConnection();
    std::lock_guard guard(lock);
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
    callbackFeed().connected();
    reader.start(pipe);
    return answer(Success, 0, "", extendedErrorCode, errorMessage, errorMessageSize);
}

STANDIN_EXPORT std::int32_t __stdcall TRANS2QUIK_DISCONNECT(std::int32_t* extendedErrorCode, char* errorMessage,
                                                             std::uint32_t errorMessageSize) {
    {
        std::lock_guard guard(lock);
        if (connection == INVALID_HANDLE_VALUE)
            return answer(NotConnected, 0, "not connected", extendedErrorCode, errorMessage, errorMessageSize);
    }
    endConnection();
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
    std::string refusal = libraryRefusal(transactionString);
    if (!refusal.empty()) return answer(WrongSyntax, 0, refusal, extendedErrorCode, errorMessage, errorMessageSize);
    // A closed terminal shows as a broken pipe; checking first keeps the text from vanishing.
    DWORD written = 0;
    DWORD length = static_cast<DWORD>(std::strlen(transactionString));
    BOOL sent = FALSE;
    DWORD error = 0;
    {
        std::lock_guard guard(pipeLock);
        sent = PeekNamedPipe(connection, nullptr, 0, nullptr, nullptr, nullptr) &&
               WriteFile(connection, transactionString, length, &written, nullptr) && written == length;
        if (!sent) error = GetLastError();
    }
    if (!sent) {
        retireConnection();
        return answer(TerminalGone, static_cast<long>(error), "terminal gone", extendedErrorCode, errorMessage,
                      errorMessageSize);
    }
    return answer(Success, 0, "", extendedErrorCode, errorMessage, errorMessageSize);
}
