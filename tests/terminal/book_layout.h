#pragma once
#include <cstdint>
#include <vector>

#include "support/fakes.h"

namespace velmora::testing {

// One quote entry as the terminal lays it out.
struct Level {
    std::uint32_t price = 0;
    std::uint32_t sell = 0;
    std::uint32_t ownSell = 0;
    std::uint32_t buy = 0;
    std::uint32_t ownBuy = 0;
};

inline Level bid(std::uint32_t price, std::uint32_t quantity, std::uint32_t own = 0) {
    return {price, 0, 0, quantity, own};
}
inline Level ask(std::uint32_t price, std::uint32_t quantity, std::uint32_t own = 0) {
    return {price, quantity, own, 0, 0};
}

// Lays out headers, pointer arrays and entries in a FakeMemory.
struct BookLayout {
    FakeMemory& memory;

    static constexpr TerminalAddress entryStride = 0x40;

    // The reader takes 496 bytes at a header, so the whole span is made readable.
    void header(TerminalAddress at, TerminalAddress next, std::int32_t secIndex, TerminalAddress array,
                std::int32_t count = 0) {
        memory.map(at, 496);
        memory.writeWords(at, {next, static_cast<std::uint32_t>(secIndex), array, static_cast<std::uint32_t>(count)});
    }

    void pointers(TerminalAddress array, const std::vector<TerminalAddress>& entries) {
        memory.map(array, 496);
        memory.writeWords(array, entries);
    }

    void entry(TerminalAddress at, const Level& level) {
        memory.map(at, 36);
        memory.writeWord(at + 0x00, level.price);
        memory.writeWord(at + 0x0C, level.sell);
        memory.writeWord(at + 0x10, level.ownSell);
        memory.writeWord(at + 0x1C, level.buy);
        memory.writeWord(at + 0x20, level.ownBuy);
    }

    // The entries of a book at an existing header: N, the array and one entry per level.
    std::vector<TerminalAddress> fill(TerminalAddress headerAt, TerminalAddress array, TerminalAddress entries,
                                      const std::vector<Level>& levels) {
        memory.writeWord(headerAt + 0x0C, static_cast<std::uint32_t>(levels.size()));
        std::vector<TerminalAddress> addresses;
        for (std::size_t i = 0; i < levels.size(); ++i) {
            addresses.push_back(entries + static_cast<TerminalAddress>(i) * entryStride);
            entry(addresses.back(), levels[i]);
        }
        pointers(array, addresses);
        return addresses;
    }

    // A whole book on its own: a header that ends the chain, then its entries.
    std::vector<TerminalAddress> book(TerminalAddress headerAt, TerminalAddress array, TerminalAddress entries,
                                      const std::vector<Level>& levels) {
        header(headerAt, 0, 0, array);
        return fill(headerAt, array, entries, levels);
    }
};

}  // namespace velmora::testing
