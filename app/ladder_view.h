#pragma once
#include <QTableView>
#include <QTimer>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "ladder/ladder_grid.h"
#include "orders/order_entry.h"

namespace velmora {

// The ladder grid sgDOM: a table without Qt's own headers (row 0 of the grid is its
// header row, kept at the top while the rows scroll under it, never the current cell).
// Every press of a mouse button is reported, a double click as a second press. Column
// borders are dragged in the header row, row borders in the first column.
class LadderDelegate;
class LadderModel;

class LadderView : public QTableView {
    Q_OBJECT
public:
    // Shows `grid`, which outlives the view.
    explicit LadderView(const LadderGrid& grid, QWidget* parent = nullptr);

    // Repaints the cells written (all of them when the number of rows changed, new rows taking
    // the default height) and widens a column whose new text would not fit; whether one was.
    bool showChanges(const std::vector<LadderGrid::CellRef>& changed);
    // A ladder that is not live keeps its texts but loses its colours.
    void setLive(bool live);
    bool live() const;
    // The ladder of prices: its rows fill the view without a scroll bar, the wheel moves the prices.
    void setPricesMode(bool prices);
    // A band at the top or bottom edge: the market left the rows that way while they were held.
    enum class Away { None, Above, Below };
    void setAwayMarker(Away away);
    // The row of this price flashes three times: an order there was rejected.
    void flashPrice(std::int64_t price);
    // Whether the flash's colour is on now (tests).
    bool flashShown() const { return flashPhase_ % 2 == 1; }

    QModelIndex indexAt(const QPoint& point) const override;
    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

signals:
    // column and row are -1 outside the cells. A left press on an own quantity is told on its
    // release, on the same row; released on another row it is a drag.
    void cellPressed(velmora::MouseButton button, bool shift, int column, int row);
    void ownQuantityDragged(int column, int fromRow, int toRow);
    // The ladder of prices: the wheel's rows (up positive), and how many rows fit the view.
    void wheelRows(int rows);
    void visibleRowsChanged(int rows);
    void pointerOver(bool over);

protected:
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = QList<int>()) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    enum class Border { None, Column, Row };
    struct BorderHit {
        Border kind = Border::None;
        int section = -1;
    };
    // Whether row 0 is drawn over the rows scrolled under it.
    bool headerPinned() const;
    int rowAtPoint(int y) const;
    BorderHit borderAt(const QPoint& position) const;
    void press(QMouseEvent* event);
    void flashStep();
    void paintCells(QPainter& painter, const QRegion& region);
    int textWidth(const std::string& text);

    // Room beside a cell's text: the grid lines and the delegate's margins.
    static constexpr int cellPadding = 8;

    const LadderGrid& grid_;
    LadderModel* model_;
    LadderDelegate* delegate_;
    BorderHit dragging_;
    int dragOrigin_ = 0;
    int dragStartSize_ = 0;
    struct HeldPress {
        int column = -1;
        int row = -1;
        bool shift = false;
    };
    HeldPress held_;
    bool prices_ = false;
    Away away_ = Away::None;
    int wheelRemainder_ = 0;
    QTimer flashTimer_;
    std::int64_t flashPrice_ = 0;
    int flashPhase_ = 0;  // odd: the colour shows; counts down to 0
    // The rows the model named while showChanges ran: repainted as one band, not cell by cell.
    bool gathering_ = false;
    int changedTop_ = 0;
    int changedBottom_ = -1;
    int changedLeft_ = 0;
    int changedRight_ = -1;
    std::vector<std::uint8_t> painted_;  // cells of this paint already drawn
    // Widths of texts already measured in the view's font: the same prices and quantities come
    // back on every tick.
    std::unordered_map<std::string, int> widths_;
    QFont widthsFont_;
};

}  // namespace velmora
