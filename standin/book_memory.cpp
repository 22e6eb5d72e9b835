#include "book_memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

namespace standin {

static_assert(std::endian::native == std::endian::little, "the layout is little-endian");

namespace {

void* mapLow(std::size_t size) {
    // Fixed low addresses first, so that the chain head does not move between runs; below
    // 2 GiB, because settings read the address as a signed 32-bit number.
    for (std::uintptr_t address = 0x10000000; address < 0x80000000; address += 0x10000000) {
        void* result = mmap(reinterpret_cast<void*>(address), size, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (result == reinterpret_cast<void*>(address)) return result;
        if (result != MAP_FAILED) munmap(result, size);  // old kernels take the address as a hint
    }
#ifdef MAP_32BIT
    void* result = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (result != MAP_FAILED) return result;
#endif
    throw std::runtime_error("cannot map memory below 4 GiB: " + std::string(std::strerror(errno)));
}

}  // namespace

BookMemory::BookMemory(const std::vector<Header>& chain) : chain_(chain), slots_(chain.size()) {
    if (chain.size() * slot > arrayArea - headerArea || chain.size() * slot > entryArea - arrayArea ||
        entryArea + chain.size() * entriesPerBook * entrySize > size)
        throw std::invalid_argument("too many order books for the stand-in's memory");
    memory_ = static_cast<std::uint8_t*>(mapLow(size));
    base_ = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(memory_));

    for (std::size_t i = 0; i < chain_.size(); ++i) {
        std::uint32_t address = headerAddress(i);
        std::uint32_t next = i + 1 < chain_.size() ? headerAddress(i + 1) : 0;
        std::uint32_t array = chain_[i].hasBook ? base_ + arrayArea + i * slot : 0;
        putWord(address + 0x00, next);
        putWord(address + 0x04, static_cast<std::uint32_t>(chain_[i].securityIndex));
        putWord(address + 0x08, array);
        putWord(address + 0x0C, 0);
        // Words a reader must not use: the terminal keeps more there.
        for (std::uint32_t offset = 0x10; offset < 0x40; offset += 4) putWord(address + offset, 0xDEAD0000 + offset);

        std::uint32_t entries = base_ + entryArea + i * entriesPerBook * entrySize;
        for (std::uint32_t e = entriesPerBook; e-- > 0;) slots_[i].freeEntries.push_back(entries + e * entrySize);
    }
    putWord(chainHeadAddress(), chain_.empty() ? 0 : headerAddress(0));
}

BookMemory::~BookMemory() {
    if (memory_) munmap(memory_, size);
}

std::uint8_t* BookMemory::at(std::uint32_t address) const {
    return memory_ + (address - base_);
}

void BookMemory::putWord(std::uint32_t address, std::uint32_t value) const {
    // Little-endian words, stored whole so that a concurrent reader sees old or new, never half.
    std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(at(address)))
        .store(value, std::memory_order_relaxed);
}

void BookMemory::writeBook(std::size_t header, const std::vector<BookRow>& rows) {
    if (header >= chain_.size() || !chain_[header].hasBook) return;
    Slots& slots = slots_[header];
    ++generation_;

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

    std::vector<std::uint32_t> pointers;
    for (std::size_t i = 0; i < count; ++i) {
        const BookRow& row = rows[i];
        auto found = std::find_if(kept.begin(), kept.end(), [&](const auto& k) { return k.first == row.price; });
        std::uint32_t entry;
        if (found != kept.end()) {
            entry = found->second;
        } else {
            entry = slots.freeEntries.back();
            slots.freeEntries.pop_back();
        }
        slots.used.emplace_back(row.price, entry);
        putWord(entry + 0x00, row.price);
        putWord(entry + 0x04, generation_);
        putWord(entry + 0x08, static_cast<std::uint32_t>(i));
        putWord(entry + 0x0C, row.sell ? row.quantity : 0);
        putWord(entry + 0x10, row.sell ? row.own : 0);
        putWord(entry + 0x14, 0xFFFFFFFF);
        putWord(entry + 0x18, row.price);
        putWord(entry + 0x1C, row.sell ? 0 : row.quantity);
        putWord(entry + 0x20, row.sell ? 0 : row.own);
        pointers.push_back(entry);
    }

    std::uint32_t array = base_ + arrayArea + header * slot;
    for (std::size_t i = 0; i < pointers.size(); ++i) putWord(array + 4 * i, pointers[i]);
    putWord(array + 4 * pointers.size(), 0);
    putWord(headerAddress(header) + 0x0C, static_cast<std::uint32_t>(pointers.size()));
}

}  // namespace standin
