#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// What a cell shows besides its text.
struct CellLook {
    enum Mark : std::uint8_t {
        Pending = 1,        // an own quantity holds an order the terminal has not answered yet
        LastTrade = 2,      // the row of the tape's last trade; `size` is its quantity
        PositionLong = 4,   // the row where the position was entered
        PositionShort = 8,
        BuysLead = 16,      // the volume traded here, mostly bought
        SellsLead = 32,
        LastBuy = 64,       // the last trade's aggressor, where known
        LastSell = 128,
    };
    std::int64_t bar = 0;   // the quantity the cell's bar stands for, against its column's scale
    std::int64_t size = 0;
    std::uint8_t marks = 0;
    bool operator==(const CellLook&) const = default;
};

// The ladder's cell texts, below the window: rows x 7 columns, row 0 the header, and beside
// them each row's price in whole ticks, which is what a click acts on (the text is for show).
// Writes compare first, so a refresh that changes nothing touches no cell; the
// cells that did change are remembered until the view takes them.
class LadderGrid {
public:
    static constexpr int ColumnCount = 7;
    enum Column { OwnSell = 0, SellQuantity = 1, PriceColumn = 2, BuyQuantity = 3, OwnBuy = 4, Stop = 5, Volume = 6 };

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

    const CellLook& look(int row, int column) const;
    // Compares first, as setCell does.
    bool setLook(int row, int column, const CellLook& look);
    // The longest bar of the two quantity columns together, or of the volume column: the bar
    // that fills its cell. Set by updateBarScales after the rows are written; a scale that
    // changed marks every bar of its columns for repainting.
    std::int64_t barScale(int column) const { return column == Volume ? volumeScale_ : quantityScale_; }
    void updateBarScales();

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
    void noteChanged(int row, int column);
    void markBars(int first, int last);

    std::vector<std::string> cells_;
    std::vector<CellLook> looks_;
    std::int64_t quantityScale_ = 0;
    std::int64_t volumeScale_ = 0;
    std::vector<std::optional<std::int64_t>> prices_;
    std::vector<CellRef> changed_;
};

}  // namespace velmora
