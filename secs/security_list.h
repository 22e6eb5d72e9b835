#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

// One security of the terminal's securities file. Strings are UTF-8 (converted
// from the file's Windows-1251 bytes when read).
struct TSecShareRecord {
    std::int32_t Index = 0;
    std::uint8_t RecordKind = 1;  // 0 long tail (ISIN), 1 short tail with base contract, 2 without
    std::uint32_t ID = 0;
    std::string Ticker;
    std::string Ticker2;
    std::string Ticker3;
    std::uint32_t IntPriceStep = 0;
    std::string Extra2;
    std::uint32_t Decimals = 0;
    std::int32_t ExtraInt1 = 0;
    std::int32_t ExtraInt2 = 0;
    std::array<std::uint8_t, 32> RawBlock1{};
    std::array<std::uint8_t, 8> RawBlock2{};
    std::string Smn;
    std::string Extra1;
    std::string Z2;
    std::string ClassCode;
    std::string BaseContract;
    std::string ISIN;

    // Price step and real prices: IntPriceStep / 10^Decimals, IntPrice / 10^Decimals.
    double priceStep() const;
    double realPrice(std::uint32_t intPrice) const;
    // An offset of n steps: the 64-bit product IntPriceStep * n divided in floating point.
    double stepOffset(std::int32_t steps) const;
};

// The securities of the file in file order; item i has Index i. Owns its records.
class TSecShareList {
public:
    int Count() const { return static_cast<int>(records_.size()); }
    // Throws ProgramError for a position outside 0..Count-1.
    const TSecShareRecord& at(int position) const;
    bool contains(int position) const { return position >= 0 && position < Count(); }
    // Sets the record's Index to its position.
    void append(std::unique_ptr<TSecShareRecord> record);
    // First record whose Ticker equals text exactly (case-sensitive); null if none.
    const TSecShareRecord* FindByTicker(const std::string& text) const;

private:
    std::vector<std::unique_ptr<TSecShareRecord>> records_;
};

// "ID:$" + hex ID (at least 4 digits) + "IDX:" + Index + "; CLASS:" + ClassCode + "; TICKER:" + Ticker
std::string SecShareDescription(const TSecShareRecord& record);

}  // namespace velmora
