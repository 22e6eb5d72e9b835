#include "ladder/ladder_grid.h"

#include <algorithm>

namespace velmora {

namespace {
const std::string emptyText;
}

LadderGrid::LadderGrid(int rowCount)
    : rowCount_(std::max(rowCount, 0)),
      cells_(static_cast<std::size_t>(rowCount_) * ColumnCount),
      prices_(static_cast<std::size_t>(rowCount_)) {}

void LadderGrid::setRowCount(int rows) {
    rowCount_ = std::max(rows, 0);
    cells_.resize(static_cast<std::size_t>(rowCount_) * ColumnCount);
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
    changed_.push_back({row, column});
    return true;
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
