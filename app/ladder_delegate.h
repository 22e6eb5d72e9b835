#pragma once
#include <QColor>
#include <QStyledItemDelegate>

#include "ladder/ladder_grid.h"

namespace velmora {

// Background of a data cell, decided from the texts of its row alone; plain when the ladder
// is not live.
QColor ladderCellColor(const LadderGrid& grid, int row, int column, bool live = true);

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
    static const QColor NotLiveText;

    explicit LadderDelegate(const LadderGrid& grid, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // A ladder that is not live keeps its texts but loses its colours: grey text on plain cells.
    void setLive(bool live) { live_ = live; }
    bool live() const { return live_; }

private:
    void paintHeaderCell(QPainter* painter, const QStyleOptionViewItem& option, const QString& text) const;

    const LadderGrid& grid_;
    bool live_ = true;
};

}  // namespace velmora
