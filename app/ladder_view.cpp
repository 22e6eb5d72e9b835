#include "app/ladder_view.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <algorithm>
#include <cstdlib>

namespace velmora {

namespace {
constexpr int BorderGrip = 2;
}

LadderView::LadderView(QWidget* parent) : QTableView(parent) {
    horizontalHeader()->hide();
    verticalHeader()->hide();
    horizontalHeader()->setMinimumSectionSize(0);
    verticalHeader()->setMinimumSectionSize(0);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setShowGrid(true);
    setMouseTracking(true);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
}

LadderView::BorderHit LadderView::borderAt(const QPoint& position) const {
    if (!model()) return {};
    const int row = rowAt(position.y());
    const int column = columnAt(position.x());
    if (row == 0) {
        for (int c = 0; c < model()->columnCount(); ++c) {
            const int edge = columnViewportPosition(c) + columnWidth(c);
            if (std::abs(position.x() - edge) <= BorderGrip) return {Border::Column, c};
        }
    }
    if (column == 0 || (column == -1 && position.x() < BorderGrip)) {
        for (int r = std::max(row - 1, 0); r <= row + 1 && r < model()->rowCount(); ++r) {
            if (r < 0) continue;
            const int edge = rowViewportPosition(r) + rowHeight(r);
            if (std::abs(position.y() - edge) <= BorderGrip) return {Border::Row, r};
        }
    }
    return {};
}

void LadderView::press(QMouseEvent* event) {
    const QPoint position = event->position().toPoint();
    const QModelIndex index = indexAt(position);
    const int column = index.isValid() ? index.column() : -1;
    const int row = index.isValid() ? index.row() : -1;
    MouseButton button = MouseButton::Other;
    if (event->button() == Qt::LeftButton) button = MouseButton::Left;
    if (event->button() == Qt::RightButton) button = MouseButton::Right;
    if (index.isValid() && button != MouseButton::Other) setCurrentIndex(index);

    if (button == MouseButton::Left) {
        const BorderHit hit = borderAt(position);
        if (hit.kind != Border::None) {
            dragging_ = hit;
            dragOrigin_ = hit.kind == Border::Column ? position.x() : position.y();
            dragStartSize_ = hit.kind == Border::Column ? columnWidth(hit.section) : rowHeight(hit.section);
        }
    }
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    emit cellPressed(button, shift, column, row);
    event->accept();
}

void LadderView::mousePressEvent(QMouseEvent* event) { press(event); }

void LadderView::mouseDoubleClickEvent(QMouseEvent* event) { press(event); }

void LadderView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint position = event->position().toPoint();
    if (dragging_.kind == Border::Column) {
        setColumnWidth(dragging_.section, std::max(0, dragStartSize_ + position.x() - dragOrigin_));
        return;
    }
    if (dragging_.kind == Border::Row) {
        setRowHeight(dragging_.section, std::max(0, dragStartSize_ + position.y() - dragOrigin_));
        return;
    }
    switch (borderAt(position).kind) {
        case Border::Column: viewport()->setCursor(Qt::SplitHCursor); break;
        case Border::Row: viewport()->setCursor(Qt::SplitVCursor); break;
        case Border::None: viewport()->unsetCursor(); break;
    }
}

void LadderView::mouseReleaseEvent(QMouseEvent* event) {
    dragging_ = {};
    event->accept();
}

}  // namespace velmora
