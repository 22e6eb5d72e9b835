#pragma once
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/message_sink.h"
#include "platform/process_access.h"
#include "platform/trans_library.h"

namespace velmora::testing {

// A sparse 32-bit address space: reads succeed only inside written regions.
class FakeMemory {
public:
    void write(TerminalAddress address, const void* bytes, std::size_t count);
    void writeWord(TerminalAddress address, std::uint32_t value);
    void writeWords(TerminalAddress address, const std::vector<std::uint32_t>& values);
    // Makes [address, address + count) readable (zero-filled) without changing set bytes.
    void map(TerminalAddress address, std::size_t count);
    void unmap(TerminalAddress address);
    bool read(TerminalAddress address, void* destination, std::size_t count) const;

    mutable int readCount = 0;  // reads attempted, for tests that count them
    // When set, every read fails.
    bool failAll = false;

private:
    std::map<TerminalAddress, std::vector<std::uint8_t>> regions_;
};

class FakeProcessHandle : public ProcessHandle {
public:
    // `ended`, when given, tells whether the process has ended; it outlives the handle.
    explicit FakeProcessHandle(FakeMemory& memory, const bool* ended = nullptr) : memory_(memory), ended_(ended) {}
    bool read(TerminalAddress address, void* destination, std::size_t count) override;
    bool exited() override { return ended_ != nullptr && *ended_; }

private:
    FakeMemory& memory_;
    const bool* ended_;
};

class FakeProcessAccess : public ProcessAccess {
public:
    std::vector<ProcessEntry> processes;
    FakeMemory memory;
    std::vector<std::uint32_t> opened;
    int listCalls = 0;
    // Processes that have ended: their handles answer exited(). Node-based, so the flags stay put.
    std::map<std::uint32_t, bool> ended;

    std::vector<ProcessEntry> listProcesses() override;
    std::unique_ptr<ProcessHandle> open(std::uint32_t processId) override;
};

class FakeClock : public Clock {
public:
    LocalDateTime time{2026, 12, 8, 9, 30, 5, 7};
    LocalDateTime now() override { return time; }
};

class FakeLocale : public LocaleFormats {
public:
    char decimal = '.';
    char decimalSeparator() const override { return decimal; }
    char timeSeparator() const override { return ':'; }
    std::string formatDateTime(const LocalDateTime& when) const override;
};

class RecordingMessageSink : public MessageSink {
public:
    std::vector<std::string> shown;
    void show(const std::string& text) override { shown.push_back(text); }
};

// Records every call; connect answers `connectResult`.
class FakeTransLibrary : public TransLibrary {
public:
    bool isAvailable = true;
    bool putBack = false;  // the next loadAgain() finds the library
    std::int32_t connectResult = 0;
    // What the send answers, with this message in the library's buffer.
    std::int32_t sendResult = 0;
    std::string sendMessage;
    std::vector<std::string> connectTexts;
    std::vector<std::string> sent;
    int disconnects = 0;
    int replyCallbacks = 0;
    std::vector<std::string> subscriptions;  // "CLASS|TICKER" for each subscribe
    LibraryEventBatch events;                // what the next takeEvents() hands over

    bool available() const override { return isAvailable; }
    std::string loadError() const override { return isAvailable ? "" : "not loaded"; }
    bool loadAgain() override { return isAvailable = isAvailable || putBack; }
    std::int32_t connect(char* connectionText, std::int32_t* extendedError, char* errorMessage,
                         std::uint32_t errorMessageSize) override;
    std::int32_t disconnect(std::int32_t* extendedError, char* errorMessage,
                            std::uint32_t errorMessageSize) override;
    std::int32_t sendAsyncTransaction(char* transaction, std::int32_t* extendedError,
                                      char* errorMessage, std::uint32_t errorMessageSize) override;
    std::int32_t setTransactionsReplyCallback(std::int32_t*, char*, std::uint32_t) override {
        ++replyCallbacks;
        return 0;
    }
    std::int32_t subscribeOrders(char* classCode, char* secCodes) override {
        subscriptions.push_back(std::string(classCode) + "|" + secCodes);
        return 0;
    }
    bool startOrders() override { return true; }
    std::int32_t unsubscribeOrders() override { return 0; }
    LibraryEventBatch takeEvents() override { return std::exchange(events, {}); }
};

// A fresh empty folder under the system's temporary folder, removed on destruction.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::string& path() const { return path_; }  // with trailing "/"
    std::string file(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

inline bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

inline std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

}  // namespace velmora::testing
