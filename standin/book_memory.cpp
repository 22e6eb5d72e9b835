#include "book_memory.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <stdexcept>
#include <thread>

#include "system.h"

namespace standin {

static_assert(std::endian::native == std::endian::little, "the layout is little-endian");

namespace {

void storeWord(std::uint32_t* where, std::uint32_t value) {
    // Stored whole, so that a concurrent reader sees old or new, never half.
    std::atomic_ref<std::uint32_t>(*where).store(value, std::memory_order_relaxed);
}

}  // namespace

BookMemory::BookMemory(const std::vector<Header>& chain, std::uint32_t* headWord)
    : headWord_(headWord), chain_(chain), slots_(chain.size()) {
    if (chain.size() * slot > arrayArea - headerArea || chain.size() * slot > entryArea - arrayArea ||
        entryArea + chain.size() * entriesPerBook * entrySize > size)
        throw std::invalid_argument("too many order books for the stand-in's memory");
    if (headWord && reinterpret_cast<std::uintptr_t>(headWord) >= 0xFFFFFFF0u)
        throw std::invalid_argument("the chain head must lie below 4 GiB");
    // A hole right after the block gives pointers into unmapped memory a home nothing else takes.
    memory_ = static_cast<std::uint8_t*>(mapLow(size + holeSize, holeSize));
    base_ = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(memory_));

    for (std::size_t i = 0; i < chain_.size(); ++i) {
        std::uint32_t address = headerAddress(i);
        restoreHeader(i);
        putWord(address + 0x04, static_cast<std::uint32_t>(chain_[i].securityIndex));
        putWord(address + 0x0C, 0);
        // Words a reader must not use: the terminal keeps more there.
        for (std::uint32_t offset = 0x10; offset < 0x40; offset += 4) putWord(address + offset, 0xDEAD0000 + offset);

        std::uint32_t entries = base_ + entryArea + i * entriesPerBook * entrySize;
        for (std::uint32_t e = entriesPerBook; e-- > 0;) slots_[i].freeEntries.push_back(entries + e * entrySize);
    }
    std::uint32_t first = chain_.empty() ? 0 : headerAddress(0);
    if (headWord_)
        storeWord(headWord_, first);
    else
        putWord(chainHeadAddress(), first);
}

BookMemory::~BookMemory() {
    if (memory_) unmapLow(memory_, size);
}

std::uint32_t BookMemory::chainHeadAddress() const {
    return headWord_ ? static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(headWord_))
                     : base_ + chainHeadOffset;
}

std::uint8_t* BookMemory::at(std::uint32_t address) const {
    return memory_ + (address - base_);
}

std::uint32_t BookMemory::word(std::uint32_t address) const {
    return std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(at(address))).load(std::memory_order_relaxed);
}

void BookMemory::putWord(std::uint32_t address, std::uint32_t value) const {
    storeWord(reinterpret_cast<std::uint32_t*>(at(address)), value);
}

void BookMemory::pause() const {
    if (tearPause_.count() > 0) std::this_thread::sleep_for(tearPause_);
}

std::vector<std::uint32_t> BookMemory::assignEntries(std::size_t header, const std::vector<BookRow>& rows) {
    Slots& slots = slots_[header];
    std::size_t count = std::min<std::size_t>(rows.size(), std::min(arrayCapacity, entriesPerBook));
    auto shown = rows.begin() + static_cast<std::ptrdiff_t>(count);

    // Levels that are gone give their entries back; kept levels keep their entry.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> kept;
    for (const auto& [price, address] : slots.used) {
        bool stays = std::any_of(rows.begin(), shown, [&](const BookRow& r) { return r.price == price; });
        if (stays)
            kept.emplace_back(price, address);
        else
            slots.freeEntries.push_back(address);
    }
    slots.used.clear();

    std::vector<std::uint32_t> entries;
    for (std::size_t i = 0; i < count; ++i) {
        auto found = std::find_if(kept.begin(), kept.end(), [&](const auto& k) { return k.first == rows[i].price; });
        std::uint32_t entry;
        if (found != kept.end()) {
            entry = found->second;
        } else {
            entry = slots.freeEntries.back();
            slots.freeEntries.pop_back();
        }
        slots.used.emplace_back(rows[i].price, entry);
        entries.push_back(entry);
    }
    return entries;
}

void BookMemory::writeEntry(std::uint32_t entry, const BookRow& row, std::size_t index, bool withQuantities) const {
    putWord(entry + 0x00, row.price);
    putWord(entry + 0x04, generation_);
    putWord(entry + 0x08, static_cast<std::uint32_t>(index));
    putWord(entry + 0x14, 0xFFFFFFFF);
    putWord(entry + 0x18, row.price);
    if (withQuantities) {
        writeQuantities(entry, row);
    } else {
        for (std::uint32_t offset : {0x0Cu, 0x10u, 0x1Cu, 0x20u}) putWord(entry + offset, 0);
    }
}

void BookMemory::writeQuantities(std::uint32_t entry, const BookRow& row) const {
    putWord(entry + 0x0C, row.sell ? row.quantity : 0);
    putWord(entry + 0x10, row.sell ? row.own : 0);
    putWord(entry + 0x1C, row.sell ? 0 : row.quantity);
    putWord(entry + 0x20, row.sell ? 0 : row.own);
}

void BookMemory::writeBook(std::size_t header, const std::vector<BookRow>& rows) {
    if (header >= chain_.size() || !chain_[header].hasBook) return;
    ++generation_;
    std::vector<std::uint32_t> entries = assignEntries(header, rows);
    // With a pause, every step is a chance for a reader to see the book half written:
    // prices without quantities, a new array with an old count.
    const bool torn = tearPause_.count() > 0;
    for (std::size_t i = 0; i < entries.size(); ++i) writeEntry(entries[i], rows[i], i, !torn);
    if (torn) {
        pause();
        for (std::size_t i = 0; i < entries.size(); ++i) writeQuantities(entries[i], rows[i]);
        pause();
    }
    std::uint32_t array = arrayAddress(header);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        putWord(array + 4 * i, entries[i]);
        if (torn && i == entries.size() / 2) pause();
    }
    putWord(array + 4 * entries.size(), 0);
    pause();
    putWord(headerAddress(header) + 0x0C, static_cast<std::uint32_t>(entries.size()));
}

void BookMemory::tearBook(std::size_t header, const std::vector<BookRow>& rows) {
    if (header >= chain_.size() || !chain_[header].hasBook) return;
    ++generation_;
    std::vector<std::uint32_t> entries = assignEntries(header, rows);
    for (std::size_t i = 0; i < entries.size(); ++i) writeEntry(entries[i], rows[i], i, false);
}

void BookMemory::setNext(std::size_t header, std::uint32_t address) const {
    putWord(headerAddress(header) + 0x00, address);
}

void BookMemory::setArray(std::size_t header, std::uint32_t address) const {
    putWord(headerAddress(header) + 0x08, address);
}

void BookMemory::setCount(std::size_t header, std::uint32_t count) const {
    putWord(headerAddress(header) + 0x0C, count);
}

void BookMemory::setPointer(std::size_t header, std::size_t index, std::uint32_t address) const {
    if (index < arrayCapacity) putWord(arrayAddress(header) + 4 * static_cast<std::uint32_t>(index), address);
}

void BookMemory::fillBothSides(std::size_t header, std::size_t index, bool own) const {
    const auto& used = slots_[header].used;
    if (index >= used.size()) return;
    std::uint32_t entry = used[index].second;
    if (own) {
        putWord(entry + 0x10, 1);
        putWord(entry + 0x20, 1);
    } else {
        putWord(entry + 0x0C, std::max(word(entry + 0x0C), 7u));
        putWord(entry + 0x1C, std::max(word(entry + 0x1C), 7u));
    }
}

void BookMemory::swapPointers(std::size_t header, std::size_t index) const {
    const auto& used = slots_[header].used;
    if (index + 1 >= used.size()) return;
    setPointer(header, index, used[index + 1].second);
    setPointer(header, index + 1, used[index].second);
}

void BookMemory::restoreHeader(std::size_t header) const {
    setNext(header, header + 1 < chain_.size() ? headerAddress(header + 1) : 0);
    setArray(header, chain_[header].hasBook ? arrayAddress(header) : 0);
}

}  // namespace standin
