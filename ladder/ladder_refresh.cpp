#include "ladder/ladder_refresh.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <exception>

#include "ladder/ladder_grid.h"
#include "ladder/price_axis.h"
#include "ladder/price_text.h"
#include "platform/clock.h"
#include "secs/security_list.h"
#include "settings/log.h"
#include "terminal/quote_table.h"

namespace velmora {

namespace {

void writeNumber(LadderGrid& grid, int row, int column, std::int64_t value, std::string& scratch) {
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    scratch.assign(digits, end);
    grid.setCell(row, column, scratch);
}

// Whether `text` is PriceText of intPrice (its digits with the separator `decimals`
// places from the right), found without the cost of formatting on every tick.
bool showsPrice(const std::string& text, std::uint32_t intPrice, std::uint32_t decimals, char separator) {
    decimals = std::min<std::uint32_t>(decimals, 18);
    char digits[32];
    char* end = std::to_chars(digits, digits + 10, intPrice).ptr;
    auto length = static_cast<std::size_t>(end - digits);
    std::size_t integerDigits = length > decimals ? length - decimals : 1;
    std::size_t padding = integerDigits + decimals - length;
    if (text.size() != integerDigits + decimals + (decimals > 0 ? 1 : 0)) return false;
    std::size_t at = 0;
    for (std::size_t i = 0; i < integerDigits + decimals; ++i, ++at) {
        if (i == integerDigits && text[at++] != separator) return false;
        char expected = i < padding ? '0' : digits[i - padding];
        if (text[at] != expected) return false;
    }
    return true;
}

void writePrice(LadderGrid& grid, int row, std::int64_t price, std::uint32_t decimals, char separator) {
    if (price > 0 && price <= UINT32_MAX &&
        showsPrice(grid.cell(row, LadderGrid::PriceColumn), static_cast<std::uint32_t>(price), decimals, separator))
        return;
    grid.setCell(row, LadderGrid::PriceColumn, PriceText(price, decimals, separator));
}

// Writes a row's quantities, own quantities and marks, and the volume traded at its price.
class RowWriter {
public:
    RowWriter(LadderGrid& grid, const LadderExtras& extras) : grid_(grid), extras_(extras) {}

    void level(int row, std::int64_t price, const TQuoteRecord* level, Side side) {
        const bool sell = side == Side::Sell;
        const int quantityColumn = sell ? LadderGrid::SellQuantity : LadderGrid::BuyQuantity;
        const int ownColumn = sell ? LadderGrid::OwnSell : LadderGrid::OwnBuy;
        if (level) writeNumber(grid_, row, quantityColumn, level->Quantity, scratch_);
        else grid_.clearCell(row, quantityColumn);
        grid_.setLook(row, quantityColumn, CellLook{level ? level->Quantity : 0, 0, 0});
        const std::int64_t pending = pendingAt(side, price);
        const std::int64_t own = (level ? level->SelfQuantity : 0) + pending;
        if (own > 0) writeNumber(grid_, row, ownColumn, own, scratch_);
        else grid_.clearCell(row, ownColumn);
        grid_.setLook(row, ownColumn, CellLook{0, 0, static_cast<std::uint8_t>(pending > 0 ? CellLook::Pending : 0)});
    }

    void volume(int row, std::int64_t price) {
        const VolumeAtPrice* traded = extras_.volume ? extras_.volume->at(price) : nullptr;
        CellLook look;
        if (traded && traded->total() > 0) {
            writeNumber(grid_, row, LadderGrid::Volume, traded->total(), scratch_);
            look.bar = traded->total();
            const TapeSide leader = traded->leader();
            look.marks = static_cast<std::uint8_t>(leader == TapeSide::Buy    ? CellLook::BuysLead
                                                   : leader == TapeSide::Sell ? CellLook::SellsLead
                                                                              : 0);
        } else {
            grid_.clearCell(row, LadderGrid::Volume);
        }
        if (extras_.volume && extras_.volume->last() && extras_.volume->last()->price == price) {
            const LastTrade& last = *extras_.volume->last();
            look.marks |= CellLook::LastTrade;
            if (last.side == TapeSide::Buy) look.marks |= CellLook::LastBuy;
            if (last.side == TapeSide::Sell) look.marks |= CellLook::LastSell;
            look.size = last.quantity;
        }
        grid_.setLook(row, LadderGrid::Volume, look);
    }

    void empty(int row) {
        for (int column = LadderGrid::OwnSell; column <= LadderGrid::OwnBuy; ++column) {
            grid_.clearCell(row, column);
            grid_.setLook(row, column, CellLook{});
        }
        grid_.clearCell(row, LadderGrid::Volume);
        grid_.setLook(row, LadderGrid::Volume, CellLook{});
    }

    // After every row is written: the position's mark on the row nearest its price (none when
    // the price is off the rows), and the bars' scales.
    void finish(std::int64_t step) {
        int marked = -1;
        if (const std::optional<PositionMark>& position = extras_.position) {
            std::int64_t nearest = INT64_MAX, lowest = INT64_MAX, highest = INT64_MIN;
            for (int row = 1; row < grid_.rowCount(); ++row) {
                const std::optional<std::int64_t> price = grid_.rowPrice(row);
                if (!price) continue;
                lowest = std::min(lowest, *price);
                highest = std::max(highest, *price);
                const std::int64_t distance = std::abs(*price - position->price);
                if (distance < nearest) nearest = distance, marked = row;
            }
            const std::int64_t half = std::max<std::int64_t>(step / 2, 0);
            if (marked >= 0 && (position->price < lowest - half || position->price > highest + half)) marked = -1;
        }
        for (int row = 1; row < grid_.rowCount(); ++row) {
            CellLook look;
            if (row == marked) look.marks = extras_.position->isLong ? CellLook::PositionLong : CellLook::PositionShort;
            grid_.setLook(row, LadderGrid::PriceColumn, look);
        }
        grid_.updateBarScales();
    }

private:
    std::int64_t pendingAt(Side side, std::int64_t price) const {
        std::int64_t quantity = 0;
        for (const PendingQuantity& pending : extras_.pending)
            if (pending.side == side && pending.price == price) quantity += pending.quantity;
        return quantity;
    }

    LadderGrid& grid_;
    const LadderExtras& extras_;
    std::string scratch_;
};

}  // namespace

bool RefreshDOM(LadderGrid& grid, int rowCount, TQuoteTable* shownTable, const TSecShareRecord* shownSecurity,
                ProcessHandle* process, Log& log) {
    if (shownTable == nullptr || shownSecurity == nullptr) return false;
    TQuoteTable& table = *shownTable;
    const TSecShareRecord& security = *shownSecurity;

    bool accepted = false;
    try {
        accepted = table.GetQuotes(process, log);
    } catch (const std::exception& error) {
        log.LogMessage(std::string("QuoteTable.GetQuotes exception: ") + error.what(), 1);
    }
    if (log.enabled(4)) log.LogMessage(table.Description(), 4);
    ShowQuoteTable(grid, rowCount, table, security, log);
    return accepted;
}

void ShowQuoteTable(LadderGrid& grid, int rowCount, const TQuoteTable& table, const TSecShareRecord& security,
                    Log& log, const LadderExtras& extras) {
    const int half = (rowCount - 1) / 2;
    if (grid.rowCount() != std::max(rowCount, 0)) grid.setRowCount(rowCount);

    const int count = table.Count();
    const int first = count - table.SellCount() - half;
    const char separator = log.locale().decimalSeparator();
    RowWriter writer(grid, extras);
    for (int k = 0; k <= rowCount - 2; ++k) {
        const int r = rowCount - 1 - k;
        const int i = first + k;
        if (i < 0 || i >= count) {
            writer.empty(r);
            grid.setRowPrice(r, std::nullopt);
            continue;
        }
        const TQuoteRecord& level = table.row(i);
        if (!showsPrice(grid.cell(r, LadderGrid::PriceColumn), level.IntPrice, security.Decimals, separator))
            grid.setCell(r, LadderGrid::PriceColumn, PriceText(level.IntPrice, security.Decimals, separator));
        grid.setRowPrice(r, level.IntPrice);
        const Side side = level.side();
        // A row keeps its side unless the row count changed; never leave a quantity showing on
        // the other side.
        writer.level(r, level.IntPrice, &level, side);
        writer.level(r, level.IntPrice, nullptr, side == Side::Sell ? Side::Buy : Side::Sell);
        writer.volume(r, level.IntPrice);
    }
    writer.finish(security.IntPriceStep);
}

void ShowQuoteTableOnAxis(LadderGrid& grid, int rowCount, const TQuoteTable& table, const TSecShareRecord& security,
                          const PriceAxis& axis, Log& log, const LadderExtras& extras) {
    if (grid.rowCount() != std::max(rowCount, 0)) grid.setRowCount(rowCount);
    const char separator = log.locale().decimalSeparator();
    const auto rows = table.rows.begin();
    const auto asks = rows + (table.Count() - table.SellCount());
    const auto end = table.rows.end();
    const auto byPrice = [](const TQuoteRecord& level, std::int64_t price) { return level.IntPrice < price; };
    // Each side runs up in price; from the lowest row up, one pointer a side walks it once.
    auto bid = rows, ask = asks;
    if (const std::optional<std::int64_t> lowest = axis.priceOf(rowCount - 2)) {
        bid = std::lower_bound(rows, asks, *lowest, byPrice);
        ask = std::lower_bound(asks, end, *lowest, byPrice);
    }
    RowWriter writer(grid, extras);
    for (int r = rowCount - 1; r >= 1; --r) {
        const std::optional<std::int64_t> price = axis.priceOf(r - 1);
        grid.setRowPrice(r, price);
        if (!price) {
            writer.empty(r);
            continue;
        }
        writePrice(grid, r, *price, security.Decimals, separator);
        while (bid != asks && bid->IntPrice < *price) ++bid;
        while (ask != end && ask->IntPrice < *price) ++ask;
        writer.level(r, *price, bid != asks && bid->IntPrice == *price ? &*bid : nullptr, Side::Buy);
        writer.level(r, *price, ask != end && ask->IntPrice == *price ? &*ask : nullptr, Side::Sell);
        writer.volume(r, *price);
    }
    writer.finish(security.IntPriceStep);
}

}  // namespace velmora
