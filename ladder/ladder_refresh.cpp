#include "ladder/ladder_refresh.h"

#include <algorithm>
#include <charconv>
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

void writeNumber(LadderGrid& grid, int row, int column, std::uint32_t value, std::string& scratch) {
    char digits[16];
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

void writeLevel(LadderGrid& grid, int row, const TQuoteRecord* level, int quantityColumn, int ownColumn,
                std::string& scratch) {
    if (!level) {
        grid.clearCell(row, quantityColumn);
        grid.clearCell(row, ownColumn);
        return;
    }
    writeNumber(grid, row, quantityColumn, level->Quantity, scratch);
    if (level->SelfQuantity != 0) writeNumber(grid, row, ownColumn, level->SelfQuantity, scratch);
    else grid.clearCell(row, ownColumn);
}

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
                    Log& log) {
    const int half = (rowCount - 1) / 2;
    if (grid.rowCount() != std::max(rowCount, 0)) grid.setRowCount(rowCount);

    const int count = table.Count();
    const int first = count - table.SellCount() - half;
    const char separator = log.locale().decimalSeparator();
    std::string number;
    for (int k = 0; k <= rowCount - 2; ++k) {
        const int r = rowCount - 1 - k;
        const int i = first + k;
        if (i < 0 || i >= count) {
            for (int column = LadderGrid::OwnSell; column <= LadderGrid::OwnBuy; ++column) grid.clearCell(r, column);
            grid.setRowPrice(r, std::nullopt);
            continue;
        }
        const TQuoteRecord& level = table.row(i);
        if (!showsPrice(grid.cell(r, LadderGrid::PriceColumn), level.IntPrice, security.Decimals, separator))
            grid.setCell(r, LadderGrid::PriceColumn, PriceText(level.IntPrice, security.Decimals, separator));
        grid.setRowPrice(r, level.IntPrice);
        const bool sell = level.side() == Side::Sell;
        const int quantityColumn = sell ? LadderGrid::SellQuantity : LadderGrid::BuyQuantity;
        const int oppositeQuantity = sell ? LadderGrid::BuyQuantity : LadderGrid::SellQuantity;
        const int ownColumn = sell ? LadderGrid::OwnSell : LadderGrid::OwnBuy;
        const int oppositeOwn = sell ? LadderGrid::OwnBuy : LadderGrid::OwnSell;
        writeNumber(grid, r, quantityColumn, level.Quantity, number);
        grid.clearCell(r, oppositeQuantity);
        if (level.SelfQuantity != 0) writeNumber(grid, r, ownColumn, level.SelfQuantity, number);
        else grid.clearCell(r, ownColumn);
        // A row keeps its side unless the row count changed; never leave an own
        // quantity showing on the other side.
        grid.clearCell(r, oppositeOwn);
    }
}

void ShowQuoteTableOnAxis(LadderGrid& grid, int rowCount, const TQuoteTable& table, const TSecShareRecord& security,
                          const PriceAxis& axis, Log& log) {
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
    std::string number;
    for (int r = rowCount - 1; r >= 1; --r) {
        const std::optional<std::int64_t> price = axis.priceOf(r - 1);
        grid.setRowPrice(r, price);
        if (!price) {
            for (int column = LadderGrid::OwnSell; column <= LadderGrid::OwnBuy; ++column) grid.clearCell(r, column);
            continue;
        }
        writePrice(grid, r, *price, security.Decimals, separator);
        while (bid != asks && bid->IntPrice < *price) ++bid;
        while (ask != end && ask->IntPrice < *price) ++ask;
        writeLevel(grid, r, bid != asks && bid->IntPrice == *price ? &*bid : nullptr, LadderGrid::BuyQuantity,
                   LadderGrid::OwnBuy, number);
        writeLevel(grid, r, ask != end && ask->IntPrice == *price ? &*ask : nullptr, LadderGrid::SellQuantity,
                   LadderGrid::OwnSell, number);
    }
}

}  // namespace velmora
