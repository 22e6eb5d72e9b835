#pragma once
#include <QTableView>

#include "orders/order_entry.h"

namespace velmora {

// The ladder grid sgDOM: a table without Qt's own headers (row 0 of the grid is its
// header row). Every press of a mouse button is reported, a double click as a second
// press. Column borders are dragged in the header row, row borders in the first column.
class LadderView : public QTableView {
    Q_OBJECT
public:
    explicit LadderView(QWidget* parent = nullptr);

signals:
    // column and row are -1 outside the cells.
    void cellPressed(velmora::MouseButton button, bool shift, int column, int row);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    enum class Border { None, Column, Row };
    struct BorderHit {
        Border kind = Border::None;
        int section = -1;
    };
    BorderHit borderAt(const QPoint& position) const;
    void press(QMouseEvent* event);

    BorderHit dragging_;
    int dragOrigin_ = 0;
    int dragStartSize_ = 0;
};

}  // namespace velmora
