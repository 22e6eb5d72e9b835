#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/process_access.h"
#include "terminal/side.h"

namespace velmora {

class Log;

// One level of an order book.
struct TQuoteRecord {
    std::uint8_t Direction = 0;  // as stored: 0 buy (bid), 1 sell (ask)
    std::uint32_t IntPrice = 0;  // in ticks of the instrument
    std::uint32_t Quantity = 0;
    std::uint32_t SelfQuantity = 0;
    std::array<std::uint8_t, 36> RawQuote{};

    Side side() const { return Direction == 1 ? Side::Sell : Side::Buy; }
    void setSide(Side side) { Direction = side == Side::Sell ? 1 : 0; }

    // Reads the 36-byte entry at `address`; answers 0 (a level) or 1..4 (why not).
    int GetQuote(ProcessHandle* process, TerminalAddress address, Log& log);
    // The same for an entry already read from `address` (`ok` false: the read failed, and the
    // 36 bytes at `entry` are cleared).
    int TakeQuote(std::uint8_t* entry, bool ok, TerminalAddress address, Log& log);
    // "BUY  Quantity:%d; IntPrice:%d; SelfQuantity:%d" (or "SELL ...")
    std::string Description() const;
};

// One order book found in the terminal; owns its rows, ascending price, bids first.
class TQuoteTable {
public:
    TerminalAddress RecordAddress = 0;
    TerminalAddress TableAddress = 0;
    TerminalAddress NextAddress = 0;
    std::int32_t SecIndex = 0;

    // Held by value and read into a spare kept beside them, so a tick's read allocates
    // nothing once both have grown to the book's depth.
    std::vector<TQuoteRecord> rows;

    int Count() const { return static_cast<int>(rows.size()); }
    const TQuoteRecord& row(int index) const { return rows[static_cast<std::size_t>(index)]; }
    void Clear() { rows.clear(); }

    // Re-reads the rows; keeps the previous rows when the read is rejected, and answers whether it was not.
    bool GetQuotes(ProcessHandle* process, Log& log);
    // Null when that side is empty; the first of equal best prices wins.
    const TQuoteRecord* BestBid() const;
    const TQuoteRecord* BestAsk() const;
    int SellCount() const;
    // The best bid at or above the best offer: an exchange's auction, where no price is a market.
    bool Crossed() const;
    std::string Description() const;

private:
    std::vector<TQuoteRecord> spare_;
};

// Reads the rows of `table` into it (cleared first); true when they form a consistent book.
bool GetNewQuotes(ProcessHandle* process, TQuoteTable& table, Log& log);

// The tables of the last discovery pass, in chain order; owns them.
using TQuoteTables = std::vector<std::unique_ptr<TQuoteTable>>;

// Walks the header chain from `baseAddress` and appends a table per header with a book.
void GetQuoteTables(ProcessHandle* process, TerminalAddress baseAddress, TQuoteTables& target,
                    Log& log);

}  // namespace velmora
