#pragma once
#include <QAbstractTableModel>

#include <cstdint>
#include <vector>

#include "ladder/ladder_grid.h"

namespace velmora {

// The ladder's cell texts as the view sees them. The texts live in the LadderGrid
// below the window; this model only tells the view which cells to repaint.
class LadderModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit LadderModel(const LadderGrid& grid, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Repaints the cells written, or everything when the number of rows changed.
    void showChanges(const std::vector<LadderGrid::CellRef>& changed);

private:
    const LadderGrid& grid_;
    int rows_;
    std::vector<std::uint8_t> named_;
};

}  // namespace velmora
