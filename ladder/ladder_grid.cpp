#include "ladder/ladder_grid.h"

#include <algorithm>

namespace velmora {

namespace {
const std::string emptyText;
const CellLook plainLook;
}

LadderGrid::LadderGrid(int rowCount)
    : rowCount_(std::max(rowCount, 0)),
      cells_(static_cast<std::size_t>(rowCount_) * ColumnCount),
      looks_(cells_.size()),
      prices_(static_cast<std::size_t>(rowCount_)) {}

void LadderGrid::setRowCount(int rows) {
    rowCount_ = std::max(rows, 0);
    cells_.resize(static_cast<std::size_t>(rowCount_) * ColumnCount);
    looks_.resize(cells_.size());
    prices_.resize(static_cast<std::size_t>(rowCount_));
    std::erase_if(changed_, [this](const CellRef& ref) { return ref.row >= rowCount_; });
}

const std::string& LadderGrid::cell(int row, int column) const {
    if (row < 0 || row >= rowCount_ || column < 0 || column >= ColumnCount) return emptyText;
    return cells_[static_cast<std::size_t>(row) * ColumnCount + static_cast<std::size_t>(column)];
}

bool LadderGrid::setCell(int row, int column, const std::string& text) {
    if (row < 0 || row >= rowCount_ || column < 0 || column >= ColumnCount) return false;
    std::string& current = cells_[static_cast<std::size_t>(row) * ColumnCount + static_cast<std::size_t>(column)];
    if (current == text) return false;
    current = text;
    noteChanged(row, column);
    return true;
}

const CellLook& LadderGrid::look(int row, int column) const {
    if (row < 0 || row >= rowCount_ || column < 0 || column >= ColumnCount) return plainLook;
    return looks_[static_cast<std::size_t>(row) * ColumnCount + static_cast<std::size_t>(column)];
}

bool LadderGrid::setLook(int row, int column, const CellLook& look) {
    if (row < 0 || row >= rowCount_ || column < 0 || column >= ColumnCount) return false;
    CellLook& current = looks_[static_cast<std::size_t>(row) * ColumnCount + static_cast<std::size_t>(column)];
    if (current == look) return false;
    current = look;
    noteChanged(row, column);
    return true;
}

void LadderGrid::noteChanged(int row, int column) {
    // A cell's text and look are written one after the other: one repaint for both.
    if (!changed_.empty() && changed_.back().row == row && changed_.back().column == column) return;
    changed_.push_back({row, column});
}

void LadderGrid::updateBarScales() {
    std::int64_t quantities = 0, volumes = 0;
    for (int row = 1; row < rowCount_; ++row) {
        quantities = std::max({quantities, look(row, SellQuantity).bar, look(row, BuyQuantity).bar});
        volumes = std::max(volumes, look(row, Volume).bar);
    }
    if (quantities != quantityScale_) {
        quantityScale_ = quantities;
        markBars(SellQuantity, BuyQuantity);
    }
    if (volumes != volumeScale_) {
        volumeScale_ = volumes;
        markBars(Volume, Volume);
    }
}

void LadderGrid::markBars(int first, int last) {
    for (int row = 1; row < rowCount_; ++row)
        for (int column = first; column <= last; ++column)
            if (column != PriceColumn && look(row, column).bar > 0) changed_.push_back({row, column});
}

std::optional<std::int64_t> LadderGrid::rowPrice(int row) const {
    if (row < 0 || row >= rowCount_) return std::nullopt;
    return prices_[static_cast<std::size_t>(row)];
}

void LadderGrid::setRowPrice(int row, std::optional<std::int64_t> ticks) {
    if (row > 0 && row < rowCount_) prices_[static_cast<std::size_t>(row)] = ticks;
}

std::vector<LadderGrid::CellRef> LadderGrid::takeChangedCells() {
    std::vector<CellRef> result;
    takeChangedCells(result);
    return result;
}

void LadderGrid::takeChangedCells(std::vector<CellRef>& into) {
    into.clear();
    into.swap(changed_);
}

}  // namespace velmora
