#include "decoys.h"

#include <cstring>
#include <vector>

#include "system.h"

namespace standin {

Decoys::Decoys(std::size_t randomBytes, std::uint32_t strayTarget, std::int32_t securityCount, std::mt19937& random)
    : size_(structuredSize + (randomBytes + 3) / 4 * 4) {
    memory_ = static_cast<std::uint8_t*>(mapLow(size_));
    base_ = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(memory_));

    // Headers that look right, books that are not: a bid after an ask, quantities on both
    // sides, falling prices, own quantities on both sides, no book, an empty book.
    using E = DecoyEntry;
    const std::vector<std::vector<E>> inconsistent = {
        {{100, 5, 0, 0, 0}, {101, 0, 3, 0, 0}},
        {{200, 5, 5, 0, 0}, {201, 4, 0, 0, 0}},
        {{300, 0, 6, 0, 0}, {299, 0, 2, 0, 0}},
        {{400, 0, 5, 1, 1}, {401, 3, 0, 0, 0}},
        {},
        {{500, 0, 1, 0, 0}, {501, 2, 0, 0, 0}, {502, 0, 3, 0, 0}},
        {},
    };
    std::uint32_t next = 0;
    for (std::size_t i = inconsistent.size(); i-- > 0;)
        next = addHeader(i, next, static_cast<std::int32_t>(i % 4), inconsistent[i], i != 4);
    put(headWords, next);

    // Sound books under security indexes of which some lie outside the list; the last one
    // does too, so no tail of this chain is a chain.
    const std::vector<E> sound = {{100, 0, 4, 0, 0}, {101, 0, 2, 1, 0}, {102, 7, 0, 0, 0}};
    const std::int32_t indexes[] = {2, 5, securityCount, 9, -1};
    next = 0;
    for (std::size_t i = std::size(indexes); i-- > 0;) next = addHeader(inconsistent.size() + i, next, indexes[i], sound);
    put(headWords + 4, next);

    for (std::size_t i = 2; i < 5; ++i) put(headWords + 4 * i, strayTarget);

    // Random words that look like memory: numbers, small counts and pointers into this block.
    std::uint64_t state = (static_cast<std::uint64_t>(random()) << 32) | random();
    auto nextRandom = [&state]() {  // splitmix64: megabytes of words must not take long
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    };
    const std::size_t words = (size_ - structuredSize) / 4;
    auto* area = reinterpret_cast<std::uint32_t*>(memory_ + structuredSize);
    for (std::size_t i = 0; i < words; ++i) {
        std::uint64_t r = nextRandom();
        switch (r & 3) {
        case 0:
        case 1: area[i] = static_cast<std::uint32_t>(r >> 32); break;
        case 2: area[i] = static_cast<std::uint32_t>((r >> 32) % 20); break;
        default: area[i] = base_ + static_cast<std::uint32_t>(((r >> 32) % (size_ / 4)) * 4);
        }
    }
    for (int i = 0; i < 3 && words > 0; ++i) area[nextRandom() % words] = strayTarget;
}

Decoys::~Decoys() {
    if (memory_) unmapLow(memory_, size_);
}

void Decoys::put(std::size_t offset, std::uint32_t value) {
    std::memcpy(memory_ + offset, &value, 4);
}

std::uint32_t Decoys::addEntry(std::uint32_t price, std::uint32_t sell, std::uint32_t buy, std::uint32_t ownSell,
                               std::uint32_t ownBuy) {
    std::size_t at = nextEntry_;
    nextEntry_ += 36;
    const std::uint32_t words[9] = {price, 0, 0, sell, ownSell, 0, 0, buy, ownBuy};
    std::memcpy(memory_ + at, words, sizeof words);
    return address(at);
}

std::uint32_t Decoys::addHeader(std::size_t index, std::uint32_t next, std::int32_t securityIndex,
                                const std::vector<DecoyEntry>& book, bool hasBook) {
    std::size_t header = headerArea + index * slot;
    std::size_t array = arrayArea + index * slot;
    for (std::size_t i = 0; i < book.size(); ++i) {
        const DecoyEntry& e = book[i];
        put(array + 4 * i, addEntry(e.price, e.sell, e.buy, e.ownSell, e.ownBuy));
    }
    put(header + 0x00, next);
    put(header + 0x04, static_cast<std::uint32_t>(securityIndex));
    put(header + 0x08, hasBook ? address(array) : 0);
    put(header + 0x0C, static_cast<std::uint32_t>(book.size()));
    return address(header);
}

}  // namespace standin
