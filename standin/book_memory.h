#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "order_book.h"

namespace standin {

// The order books as the terminal keeps them in its memory: a chain head word, a chain of
// 16-byte headers, one pointer array per book and 36-byte entries, all at 32-bit addresses
// so that a reader can follow them as 32-bit words.
class BookMemory {
public:
    // One header per element, in chain order.
    struct Header {
        std::int32_t securityIndex = 0;
        bool hasBook = true;
    };

    explicit BookMemory(const std::vector<Header>& chain);
    ~BookMemory();
    BookMemory(const BookMemory&) = delete;
    BookMemory& operator=(const BookMemory&) = delete;

    std::uint32_t chainHeadAddress() const { return base_ + chainHeadOffset; }

    // Writes book `header` (position in the chain) in place: entries, then the pointer
    // array, then the count, the way a live terminal updates it without a lock.
    void writeBook(std::size_t header, const std::vector<BookRow>& rows);

private:
    static constexpr std::uint32_t size = 0x100000;
    static constexpr std::uint32_t chainHeadOffset = 0x0100;
    static constexpr std::uint32_t headerArea = 0x1000;
    static constexpr std::uint32_t arrayArea = 0x8000;
    static constexpr std::uint32_t entryArea = 0x20000;
    // Each header and array is followed by far more than the 496 bytes a reader takes.
    static constexpr std::uint32_t slot = 0x400;
    static constexpr std::uint32_t entriesPerBook = 200;
    static constexpr std::uint32_t entrySize = 36;
    static constexpr std::uint32_t arrayCapacity = slot / 4 - 1;

    struct Slots {
        std::vector<std::uint32_t> freeEntries;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> used;  // price -> entry address
    };

    std::uint8_t* at(std::uint32_t address) const;
    void putWord(std::uint32_t address, std::uint32_t value) const;
    std::uint32_t headerAddress(std::size_t header) const { return base_ + headerArea + header * slot; }

    std::uint8_t* memory_ = nullptr;
    std::uint32_t base_ = 0;
    std::vector<Header> chain_;
    std::vector<Slots> slots_;
    std::uint32_t generation_ = 0;
};

}  // namespace standin
