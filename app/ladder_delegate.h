#pragma once
#include <QColor>
#include <QStyledItemDelegate>

#include "ladder/ladder_grid.h"

namespace velmora {

// Background of a data cell, decided from the texts of its row alone.
QColor ladderCellColor(const LadderGrid& grid, int row, int column);

// Paints the ladder: the header row in the look of fixed cells, data cells filled
// with their colour, own quantities in bold, the text at (1, 1) and unclipped.
class LadderDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static const QColor Plain;
    static const QColor Ask;
    static const QColor Bid;
    static const QColor StopAboveMarket;
    static const QColor StopBelowMarket;

    explicit LadderDelegate(const LadderGrid& grid, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    void paintHeaderCell(QPainter* painter, const QStyleOptionViewItem& option, const QString& text) const;

    const LadderGrid& grid_;
};

}  // namespace velmora
