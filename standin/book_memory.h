#pragma once
#include <chrono>
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

    // `headWord`: where the chain head lives when not in the books' own block; it must lie
    // below 4 GiB and outlive this object.
    explicit BookMemory(const std::vector<Header>& chain, std::uint32_t* headWord = nullptr);
    ~BookMemory();
    BookMemory(const BookMemory&) = delete;
    BookMemory& operator=(const BookMemory&) = delete;

    std::uint32_t chainHeadAddress() const;
    std::uint32_t headerAddress(std::size_t header) const { return base_ + headerArea + header * slot; }
    // An address nothing is mapped at, for pointers that lead nowhere.
    std::uint32_t unmappedAddress() const { return base_ + size + 0x100; }
    // Levels the array of book `header` holds now.
    std::size_t shownLevels(std::size_t header) const { return slots_[header].used.size(); }

    // A pause between the steps of every write, so that a reader often catches one midway.
    void setTearPause(std::chrono::microseconds pause) { tearPause_ = pause; }

    // Writes book `header` (position in the chain) in place: entries, then the pointer
    // array, then the count, the way a live terminal updates it without a lock.
    void writeBook(std::size_t header, const std::vector<BookRow>& rows);

    // Faults; the next writeBook and restoreHeader repair them.
    // A write stopped midway: every entry has its price but no quantity yet.
    void tearBook(std::size_t header, const std::vector<BookRow>& rows);
    void setNext(std::size_t header, std::uint32_t address) const;
    void setArray(std::size_t header, std::uint32_t address) const;
    void setCount(std::size_t header, std::uint32_t count) const;
    void setPointer(std::size_t header, std::size_t index, std::uint32_t address) const;
    // Quantities (or, with `own`, own quantities) on both sides of level `index`.
    void fillBothSides(std::size_t header, std::size_t index, bool own) const;
    // Levels `index` and `index + 1` change places in the array.
    void swapPointers(std::size_t header, std::size_t index) const;
    // The header's next and array words as they belong.
    void restoreHeader(std::size_t header) const;

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
    static constexpr std::uint32_t holeSize = 0x10000;

    struct Slots {
        std::vector<std::uint32_t> freeEntries;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> used;  // price -> entry address, in array order
    };

    std::uint8_t* at(std::uint32_t address) const;
    std::uint32_t word(std::uint32_t address) const;
    void putWord(std::uint32_t address, std::uint32_t value) const;
    std::uint32_t arrayAddress(std::size_t header) const { return base_ + arrayArea + header * slot; }
    // Gives the rows their entries (kept levels keep theirs); answers the entries in row order.
    std::vector<std::uint32_t> assignEntries(std::size_t header, const std::vector<BookRow>& rows);
    void writeEntry(std::uint32_t entry, const BookRow& row, std::size_t index, bool withQuantities) const;
    void writeQuantities(std::uint32_t entry, const BookRow& row) const;
    void pause() const;

    std::uint8_t* memory_ = nullptr;
    std::uint32_t base_ = 0;
    std::uint32_t* headWord_ = nullptr;
    std::vector<Header> chain_;
    std::vector<Slots> slots_;
    std::uint32_t generation_ = 0;
    std::chrono::microseconds tearPause_{0};
};

}  // namespace standin
