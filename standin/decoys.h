#pragma once
#include <cstddef>
#include <cstdint>
#include <random>

namespace standin {

// Memory that looks like order books to a scanner but is not the chain: random words,
// a chain whose books are all inconsistent, a chain whose security indexes run out of the
// list, and stray words pointing at a header of the true chain. Lives in a block of its
// own below 4 GiB, where a scanner of a 32-bit terminal looks.
class Decoys {
public:
    // `strayTarget`: the true chain's second header; `securityCount`: the list's length.
    Decoys(std::size_t randomBytes, std::uint32_t strayTarget, std::int32_t securityCount, std::mt19937& random);
    ~Decoys();
    Decoys(const Decoys&) = delete;
    Decoys& operator=(const Decoys&) = delete;

    std::uint32_t inconsistentChainHead() const { return address(headWords); }
    std::uint32_t outOfListChainHead() const { return address(headWords + 4); }

private:
    static constexpr std::size_t headWords = 0x0000;
    static constexpr std::size_t headerArea = 0x1000;
    static constexpr std::size_t arrayArea = 0x5000;
    static constexpr std::size_t entryArea = 0x9000;
    static constexpr std::size_t structuredSize = 0x10000;
    static constexpr std::size_t slot = 0x400;

    std::uint32_t address(std::size_t offset) const { return base_ + static_cast<std::uint32_t>(offset); }
    void put(std::size_t offset, std::uint32_t value);
    std::uint32_t addEntry(std::uint32_t price, std::uint32_t sell, std::uint32_t buy, std::uint32_t ownSell,
                           std::uint32_t ownBuy);
    struct DecoyEntry {
        std::uint32_t price, sell, buy, ownSell, ownBuy;
    };
    // Header `index` of the decoy area, its book written; answers the header's address.
    std::uint32_t addHeader(std::size_t index, std::uint32_t next, std::int32_t securityIndex,
                            const std::vector<DecoyEntry>& book, bool hasBook = true);

    std::uint8_t* memory_ = nullptr;
    std::size_t size_ = 0;
    std::uint32_t base_ = 0;
    std::size_t nextEntry_ = entryArea;
};

}  // namespace standin
