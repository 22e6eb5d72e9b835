#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// The ladder's cell texts, below the window: rows x 6 columns, row 0 the header, and beside
// them each row's price in whole ticks, which is what a click acts on (the text is for show).
// Writes compare first, so a refresh that changes nothing touches no cell; the
// cells that did change are remembered until the view takes them.
class LadderGrid {
public:
    static constexpr int ColumnCount = 6;
    enum Column { OwnSell = 0, SellQuantity = 1, PriceColumn = 2, BuyQuantity = 3, OwnBuy = 4, Stop = 5 };

    struct CellRef {
        int row;
        int column;
    };

    explicit LadderGrid(int rowCount = 41);

    int rowCount() const { return rowCount_; }
    // Keeps the texts of the rows that remain.
    void setRowCount(int rows);

    const std::string& cell(int row, int column) const;
    // Writes only when the text differs; answers whether it wrote.
    bool setCell(int row, int column, const std::string& text);
    bool clearCell(int row, int column) { return setCell(row, column, std::string()); }

    // None on the header and on a row without a level.
    std::optional<std::int64_t> rowPrice(int row) const;
    void setRowPrice(int row, std::optional<std::int64_t> ticks);

    // Cells written since the last call, in write order.
    std::vector<CellRef> takeChangedCells();
    // The same into `into`, whose storage the grid keeps for the next writes: the view's
    // per-tick call allocates nothing once both have grown.
    void takeChangedCells(std::vector<CellRef>& into);

private:
    int rowCount_;
    std::vector<std::string> cells_;
    std::vector<std::optional<std::int64_t>> prices_;
    std::vector<CellRef> changed_;
};

}  // namespace velmora
