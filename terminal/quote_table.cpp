#include "terminal/quote_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "settings/log.h"
#include "terminal/hex_text.h"

namespace velmora {

namespace {

constexpr std::size_t entrySize = 36;
constexpr std::size_t bookBufferSize = 496;
constexpr int maxEntries = static_cast<int>(bookBufferSize / 4);
constexpr std::size_t headerSize = 12;
constexpr std::size_t walkBufferSize = 24;
// Far more books than any terminal holds; only a chain that is not one gets here.
constexpr int maxHeadersPerWalk = 100000;

std::uint32_t wordAt(const std::uint8_t* bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) | static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 16 | static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

std::string hex8(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

// A missing handle (the terminal could not be opened) reads nothing.
bool readMemory(ProcessHandle* process, TerminalAddress address, void* destination, std::size_t count) {
    return process != nullptr && process->read(address, destination, count);
}

const char* readResult(bool ok) { return ok ? "ReadMem RES:True" : "ReadMem RES:False"; }

}  // namespace

int TQuoteRecord::GetQuote(ProcessHandle* process, TerminalAddress address, Log& log) {
    std::uint8_t entry[entrySize] = {};
    bool ok = readMemory(process, address, entry, entrySize);
    return TakeQuote(entry, ok, address, log);
}

int TQuoteRecord::TakeQuote(std::uint8_t* entry, bool ok, TerminalAddress address, Log& log) {
    if (log.enabled(5)) log.LogMessage("TQuoteRecord.GetQuote...", 5);
    // A failed read may have filled part of the entry; none of it is trusted.
    if (!ok) std::memset(entry, 0, entrySize);
    if (log.enabled(5)) log.LogMessage(readResult(ok), 5);
    if (log.enabled(11))
        log.LogMessage("BUF[aQuoteAddress $" + hex8(address) + "]:" + BufferToHex(entry, entrySize), 11);
    std::memcpy(RawQuote.data(), entry, entrySize);

    std::uint32_t price = wordAt(entry, 0x00);
    std::uint32_t sellQuantity = wordAt(entry, 0x0C);
    std::uint32_t ownSell = wordAt(entry, 0x10);
    std::uint32_t buyQuantity = wordAt(entry, 0x1C);
    std::uint32_t ownBuy = wordAt(entry, 0x20);

    int code = 0;
    if (buyQuantity != 0 && sellQuantity != 0) code = 1;
    if (buyQuantity == 0 && sellQuantity == 0) code = 2;
    if (price == 0) code = 3;
    if (ownSell != 0 && ownBuy != 0) code = 4;

    if (code == 0) {
        IntPrice = price;
        if (buyQuantity != 0) {
            setSide(Side::Buy);
            Quantity = buyQuantity;
            SelfQuantity = ownBuy;
        } else {
            setSide(Side::Sell);
            Quantity = sellQuantity;
            SelfQuantity = ownSell;
        }
    }
    if (log.enabled(5)) {
        log.LogMessage("TQuoteRecord.GetQuote Result: " + std::to_string(code), 5);
        log.LogMessage("TQuoteRecord:" + Description(), 5);
    }
    return code;
}

std::string TQuoteRecord::Description() const {
    char text[96];
    std::snprintf(text, sizeof text, "%s Quantity:%u; IntPrice:%u; SelfQuantity:%u",
                  side() == Side::Buy ? "BUY " : "SELL ", Quantity, IntPrice, SelfQuantity);
    return text;
}

namespace {

// The header's words up to and including the entry count.
constexpr std::size_t headerReadSize = 16;

// Reads 496 bytes at `address` into `buffer` and logs them, as the level-11 dumps always
// have; where those fail near the end of a mapping, the `needed` bytes alone are read.
bool readDumped(ProcessHandle* process, TerminalAddress address, std::uint8_t* buffer, std::size_t needed,
                const char* name, Log& log) {
    bool ok = readMemory(process, address, buffer, bookBufferSize);
    log.LogMessage(readResult(ok), 11);
    log.LogMessage("BUF[aQuoteTable." + std::string(name) + " $" + hex8(address) + "]:" +
                       BufferToHex(buffer, bookBufferSize),
                   11);
    return ok || (needed > 0 && readMemory(process, address, buffer, needed));
}

}  // namespace

bool GetNewQuotes(ProcessHandle* process, TQuoteTable& table, Log& log) {
    if (log.enabled(5)) log.LogMessage("GetNewQuotes...", 5);
    bool consistent = true;
    bool sellSeen = false;
    bool havePrevious = false;
    std::uint32_t previousPrice = 0;
    table.Clear();

    const bool dumping = log.enabled(11);
    std::uint8_t buffer[bookBufferSize] = {};
    bool ok = dumping ? readDumped(process, table.RecordAddress, buffer, headerReadSize, "RecordAddress", log)
                      : readMemory(process, table.RecordAddress, buffer, headerReadSize);
    // Without the header there is no entry count to trust.
    if (!ok) return false;
    auto count = static_cast<std::int32_t>(wordAt(buffer, 0x0C));
    if (log.enabled(5)) log.LogMessage("QuotesCnt:" + std::to_string(count), 5);

    const int pointerCount = std::clamp(count, 0, maxEntries);
    const std::size_t arrayBytes = static_cast<std::size_t>(pointerCount) * 4;
    if (dumping) ok = readDumped(process, table.TableAddress, buffer, arrayBytes, "TableAddress", log);
    // No pointer to read: the book is empty and rejected below all the same.
    else ok = pointerCount == 0 || readMemory(process, table.TableAddress, buffer, arrayBytes);
    // The buffer would still hold the header's words, not pointers.
    if (!ok) return false;

    // Reading ends at a zero or repeated pointer, so only those before it are read.
    std::uint8_t entries[maxEntries][entrySize];
    ReadRange ranges[maxEntries];
    int listed = 0;
    std::uint32_t previousPointer = 0;
    for (; listed < pointerCount; ++listed) {
        std::uint32_t pointer = wordAt(buffer, static_cast<std::size_t>(listed) * 4);
        if (pointer == 0 || (listed > 0 && pointer == previousPointer)) break;
        previousPointer = pointer;
        ranges[listed] = {pointer, entries[listed], entrySize};
    }
    const std::size_t readWhole = process != nullptr ? process->readMany(ranges, static_cast<std::size_t>(listed)) : 0;

    for (int i = 0; i < listed; ++i) {
        TQuoteRecord row;
        const bool entryRead = static_cast<std::size_t>(i) < readWhole;
        if (row.TakeQuote(entries[i], entryRead, ranges[i].address, log) != 0 || row.IntPrice == 0 ||
            row.Quantity == 0)
            break;

        if (row.side() == Side::Sell) sellSeen = true;
        else if (sellSeen) consistent = false;
        if (havePrevious && row.IntPrice < previousPrice) consistent = false;
        previousPrice = row.IntPrice;
        havePrevious = true;
        table.rows.push_back(row);
    }
    if (table.rows.empty()) consistent = false;
    return consistent;
}

bool TQuoteTable::GetQuotes(ProcessHandle* process, Log& log) {
    rows.swap(spare_);
    bool accepted = false;
    try {
        accepted = GetNewQuotes(process, *this, log);
    } catch (...) {
        rows.swap(spare_);
        throw;
    }
    if (!accepted) rows.swap(spare_);
    return accepted;
}

const TQuoteRecord* TQuoteTable::BestBid() const {
    const TQuoteRecord* best = nullptr;
    for (auto& row : rows)
        if (row.side() == Side::Buy && (best == nullptr || row.IntPrice > best->IntPrice)) best = &row;
    return best;
}

const TQuoteRecord* TQuoteTable::BestAsk() const {
    const TQuoteRecord* best = nullptr;
    for (auto& row : rows)
        if (row.side() == Side::Sell && (best == nullptr || row.IntPrice < best->IntPrice)) best = &row;
    return best;
}

bool TQuoteTable::Crossed() const {
    bool bids = false, asks = false;
    std::uint32_t bestBid = 0, bestAsk = 0;
    for (const auto& row : rows) {
        if (row.Direction == 0) {
            bestBid = bids ? std::max(bestBid, row.IntPrice) : row.IntPrice;
            bids = true;
        } else {
            bestAsk = asks ? std::min(bestAsk, row.IntPrice) : row.IntPrice;
            asks = true;
        }
    }
    return bids && asks && bestBid >= bestAsk;
}

int TQuoteTable::SellCount() const {
    int count = 0;
    for (const auto& row : rows)
        if (row.side() == Side::Sell) ++count;
    return count;
}

std::string TQuoteTable::Description() const {
    std::string text = "RecAddress:" + hex8(RecordAddress) + "; QuoteTable Address: " + hex8(TableAddress) +
                       "; NextAddress: " + hex8(NextAddress) +
                       "; SecIndex: " + hex8(static_cast<std::uint32_t>(SecIndex)) + "\r\nItems :\r\n";
    char number[16];
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::snprintf(number, sizeof number, "%2d. ", static_cast<int>(i));
        text += number;
        text += rows[i].Description();
        text += "\r\n";
    }
    return text;
}

void GetQuoteTables(ProcessHandle* process, TerminalAddress baseAddress, TQuoteTables& target, Log& log) {
    if (log.enabled(5)) log.LogMessage("GetQuoteTables", 5);
    std::uint8_t buffer[walkBufferSize] = {};
    bool ok = readMemory(process, baseAddress, buffer, 4);
    if (log.enabled(5)) log.LogMessage(readResult(ok), 5);
    if (log.enabled(10)) log.LogMessage("BUF[BASE]:" + BufferToHex(buffer, walkBufferSize), 10);
    if (!ok) return;

    std::unordered_set<TerminalAddress> visited;
    TerminalAddress current = wordAt(buffer, 0);
    for (int followed = 0; current != 0; ++followed) {
        if (!visited.insert(current).second) {
            if (log.enabled(4))
                log.LogMessage("GetQuoteTables: the chain returns to $" + hex8(current) + "; walk ended", 4);
            return;
        }
        if (followed == maxHeadersPerWalk) {
            if (log.enabled(4))
                log.LogMessage("GetQuoteTables: more than " + std::to_string(maxHeadersPerWalk) +
                                   " headers; walk ended",
                               4);
            return;
        }
        ok = readMemory(process, current, buffer, headerSize);
        if (log.enabled(5)) log.LogMessage(readResult(ok), 5);
        if (log.enabled(10))
            log.LogMessage("BUF[CurrentRec: $" + hex8(current) + "]:" + BufferToHex(buffer, headerSize), 10);
        // The buffer would still hold the previous header and lead the walk in circles.
        if (!ok) return;

        TerminalAddress next = wordAt(buffer, 0x00);
        TerminalAddress tableAddress = wordAt(buffer, 0x08);
        if (tableAddress != 0) {
            auto table = std::make_unique<TQuoteTable>();
            table->RecordAddress = current;
            table->TableAddress = tableAddress;
            table->NextAddress = next;
            table->SecIndex = static_cast<std::int32_t>(wordAt(buffer, 0x04));
            target.push_back(std::move(table));
        }
        current = next;
    }
}

}  // namespace velmora
