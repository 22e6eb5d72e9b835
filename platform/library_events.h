#pragma once
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

namespace velmora {

// What the transaction library reports through its reply callback.
struct LibraryReply {
    std::int32_t result = 0;  // the library's result code, 0 success
    std::int32_t extendedError = 0;
    std::int32_t replyCode = 0;  // the terminal's STATUS code of the transaction
    std::uint32_t transId = 0;
    std::uint64_t orderNumber = 0;  // 0 when the reply names no order
    std::string message;
};

// What the library reports through its order callback.
struct LibraryOrder {
    std::int32_t mode = 0;  // 0 a new order, 1 the initial load, 2 the last order of the initial load
    std::uint32_t transId = 0;
    std::uint64_t number = 0;
    std::string classCode;
    std::string secCode;
    double price = 0;
    std::int64_t balance = 0;
    double value = 0;
    bool isSell = false;
    std::int32_t status = 0;  // 1 active, 2 cancelled, anything else filled
};

using LibraryEvent = std::variant<LibraryReply, LibraryOrder>;

struct LibraryEventBatch {
    std::vector<LibraryEvent> events;  // in arrival order, texts UTF-8
    std::size_t dropped = 0;           // events lost to a full queue since the last take
};

// Hands events from the library's thread to the window's. push() only copies (texts stay the
// library's Windows-1251 bytes); take() converts the texts, on the taker's thread.
class LibraryEventQueue {
public:
    // Far more than a tick can bring; beyond it an undrained queue would grow without end.
    static constexpr std::size_t capacity = 100000;

    // The one the library's callbacks fill: they carry no pointer of ours to find another.
    static LibraryEventQueue& process();

    void push(LibraryEvent event);
    LibraryEventBatch take();

private:
    std::mutex mutex_;
    std::vector<LibraryEvent> events_;
    std::size_t dropped_ = 0;
};

}  // namespace velmora
