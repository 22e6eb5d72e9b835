#include <windows.h>

#include "platform/link_stream.h"

namespace velmora {

namespace {

// Serves one client at a time and takes the next once it goes. Overlapped, so that neither the
// wait for a client nor a read ever blocks the window's thread.
class PipeStream : public LinkStream {
public:
    PipeStream(std::string path, HANDLE pipe) : path_(std::move(path)), pipe_(pipe) {
        connectEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        readEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        listen();
    }
    ~PipeStream() override {
        CancelIo(pipe_);
        CloseHandle(pipe_);
        if (connectEvent_) CloseHandle(connectEvent_);
        if (readEvent_) CloseHandle(readEvent_);
    }

    const std::string& path() const override { return path_; }
    bool writerPresent() const override { return connected_; }

    LinkPoll poll(std::string& bytes) override {
        LinkPoll result;
        if (pending_) {
            DWORD unused = 0;
            if (GetOverlappedResult(pipe_, &connect_, &unused, FALSE)) {
                pending_ = false;
                connected_ = true;
            } else if (GetLastError() == ERROR_IO_INCOMPLETE) {
                return result;
            } else {
                pending_ = false;
                DisconnectNamedPipe(pipe_);
            }
        }
        if (!connected_) {
            if (!pending_) listen();
            if (!connected_) return result;
        }
        char buffer[65536];
        for (std::size_t taken = 0; taken < maxLinkPollBytes;) {
            DWORD available = 0;
            if (!PeekNamedPipe(pipe_, nullptr, 0, nullptr, &available, nullptr)) {
                // The client closed its end (ERROR_BROKEN_PIPE) or the pipe failed: take the next one.
                connected_ = false;
                result.writerGone = true;
                DisconnectNamedPipe(pipe_);
                listen();
                return result;
            }
            if (available == 0) return result;
            const DWORD wanted = available < sizeof buffer ? available : static_cast<DWORD>(sizeof buffer);
            OVERLAPPED read{};
            read.hEvent = readEvent_;
            ResetEvent(readEvent_);
            DWORD count = 0;
            if (!ReadFile(pipe_, buffer, wanted, &count, &read)) {
                // The bytes are there, so a pending read ends at once.
                if (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(pipe_, &read, &count, TRUE)) {
                    connected_ = false;
                    result.writerGone = true;
                    DisconnectNamedPipe(pipe_);
                    listen();
                    return result;
                }
            }
            bytes.append(buffer, count);
            taken += count;
        }
        return result;
    }

private:
    void listen() {
        connect_ = OVERLAPPED{};
        connect_.hEvent = connectEvent_;
        ResetEvent(connectEvent_);
        if (ConnectNamedPipe(pipe_, &connect_)) {
            connected_ = true;
            return;
        }
        switch (GetLastError()) {
            case ERROR_IO_PENDING: pending_ = true; break;
            // The client came between the calls.
            case ERROR_PIPE_CONNECTED: connected_ = true; break;
            // It came and went already: free the instance, listen again at the next poll.
            default: DisconnectNamedPipe(pipe_); break;
        }
    }

    std::string path_;
    HANDLE pipe_;
    HANDLE connectEvent_ = nullptr;
    HANDLE readEvent_ = nullptr;
    OVERLAPPED connect_{};
    bool pending_ = false;
    bool connected_ = false;
};

}  // namespace

std::unique_ptr<LinkStream> openLinkStream(const std::string&, const std::string& name, std::string& error) {
    const std::string path = "\\\\.\\pipe\\" + name;
    // Duplex, not inbound only: a client that opens the pipe for reading and writing ("r+b")
    // is refused by an inbound pipe. Nothing is ever written to it.
    const HANDLE pipe = CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
                                                           FILE_FLAG_FIRST_PIPE_INSTANCE,
                                         PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                         1, 4096, 1 << 16, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        error = "cannot serve the link pipe " + path + ": error " + std::to_string(GetLastError());
        return nullptr;
    }
    return std::make_unique<PipeStream>(path, pipe);
}

}  // namespace velmora
