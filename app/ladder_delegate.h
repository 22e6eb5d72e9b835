#pragma once
#include <QColor>
#include <QFont>
#include <QStaticText>
#include <QStyledItemDelegate>

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "ladder/ladder_grid.h"

namespace velmora {

// Background of a data cell, decided from the texts of its row alone; plain when the ladder
// is not live.
QColor ladderCellColor(const LadderGrid& grid, int row, int column, bool live = true);

// Paints the ladder: the header row in the look of fixed cells, data cells filled with their
// colour, each quantity over a bar as long as its share of the longest on the rows, own
// quantities in bold (italic while unanswered), the volume traded, the last trade and the
// position's row marked; the text at (1, 1) and unclipped.
class LadderDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static const QColor Plain;
    static const QColor Ask;
    static const QColor Bid;
    static const QColor AskBar;
    static const QColor BidBar;
    static const QColor UnknownBar;
    static const QColor AskMark;
    static const QColor BidMark;
    static const QColor StopAboveMarket;
    static const QColor StopBelowMarket;
    static const QColor NotLiveText;
    static const QColor Flash;

    explicit LadderDelegate(const LadderGrid& grid, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // A ladder that is not live keeps its texts but loses its colours: grey text on plain cells.
    void setLive(bool live) { live_ = live; }
    bool live() const { return live_; }
    // The row of this price is painted in the flash colour (a rejected order's row).
    void setFlash(std::optional<std::int64_t> price) { flash_ = price; }
    // Between these the view paints cells with `painter` and touches nothing of it but the pen:
    // fonts and pens are set on it only when they change.
    void beginCells(QPainter* painter);
    void endCells() { cellsPainter_ = nullptr; }

private:
    struct Fonts {
        QFont base, bold, italic, boldItalic;
        int ascent = 0;
        qreal ascentF[4] = {};  // of base, bold, italic, boldItalic
    };
    const Fonts& fontsFor(const QFont& base) const;
    void paintHeaderCell(QPainter* painter, const QStyleOptionViewItem& option, const QString& text) const;
    void paintBar(QPainter* painter, const QRect& cell, int column, const CellLook& look) const;
    void paintMarks(QPainter* painter, const QRect& cell, int column, const CellLook& look, const Fonts& fonts) const;
    void useFont(QPainter* painter, const QFont& font) const;
    void usePen(QPainter* painter, const QColor& color) const;
    void drawCellText(QPainter* painter, const QPoint& baseline, const std::string& text, const QFont& font) const;

    const LadderGrid& grid_;
    bool live_ = true;
    std::optional<std::int64_t> flash_;
    // Painting runs for every changed cell: no font, metrics or text is made anew for each.
    mutable Fonts fonts_;
    mutable bool fontsSet_ = false;
    mutable QString text_;
    mutable QPainter* cellsPainter_ = nullptr;
    mutable const QFont* fontSet_ = nullptr;
    mutable QColor penSet_;
    mutable bool penKnown_ = false;
    // Laid-out texts of each of the four fonts: shaping a text costs more than drawing it, and
    // the same prices and quantities come back on every tick.
    mutable std::unordered_map<std::string, QStaticText> laidOut_[4];
};

}  // namespace velmora
