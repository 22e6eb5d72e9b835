#include "app/ladder_model.h"

namespace velmora {

LadderModel::LadderModel(const LadderGrid& grid, QObject* parent)
    : QAbstractTableModel(parent), grid_(grid), rows_(grid.rowCount()) {}

int LadderModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int LadderModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : LadderGrid::ColumnCount;
}

QVariant LadderModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    return QString::fromStdString(grid_.cell(index.row(), index.column()));
}

Qt::ItemFlags LadderModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    // The header row is fixed: never selected.
    return index.row() == 0 ? Qt::ItemIsEnabled : Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void LadderModel::showChanges(const std::vector<LadderGrid::CellRef>& changed) {
    if (grid_.rowCount() != rows_) {
        beginResetModel();
        rows_ = grid_.rowCount();
        endResetModel();
        return;
    }
    // One signal per cell: a range would make the view repaint all of it.
    static const QList<int> roles{Qt::DisplayRole};
    // A quantity names its whole row's colours, and a bar scale that moved names every bar again:
    // each cell once a call.
    named_.assign(static_cast<std::size_t>(rows_) * LadderGrid::ColumnCount, 0);
    auto repaint = [this](int row, int column) {
        if (row < 0 || row >= rows_ || column < 0 || column >= LadderGrid::ColumnCount) return;
        std::uint8_t& named = named_[static_cast<std::size_t>(row) * LadderGrid::ColumnCount + static_cast<std::size_t>(column)];
        if (named) return;
        named = 1;
        const QModelIndex cell = index(row, column);
        emit dataChanged(cell, cell, roles);
    };
    for (const auto& ref : changed) {
        repaint(ref.row, ref.column);
        // The quantity columns decide the colours of the price and stop cells of their row.
        if (ref.row > 0 &&
            (ref.column == LadderGrid::SellQuantity || ref.column == LadderGrid::BuyQuantity)) {
            repaint(ref.row, LadderGrid::SellQuantity);
            repaint(ref.row, LadderGrid::PriceColumn);
            repaint(ref.row, LadderGrid::BuyQuantity);
            repaint(ref.row, LadderGrid::Stop);
        }
    }
}

}  // namespace velmora
