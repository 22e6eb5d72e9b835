#include "app/ladder_view.h"

#include "app/ladder_delegate.h"
#include "app/ladder_model.h"

#include <QAccessible>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QWheelEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <climits>
#include <cstdlib>

namespace velmora {

namespace {
constexpr int BorderGrip = 2;
}

LadderView::LadderView(const LadderGrid& grid, QWidget* parent)
    : QTableView(parent), grid_(grid), model_(new LadderModel(grid, this)), delegate_(new LadderDelegate(grid, this)) {
    setModel(model_);
    setItemDelegate(delegate_);
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
    // The cells cover what they repaint and paintCells fills the rest: no fill of the whole
    // dirty area beforehand that the cells paint over at once.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    flashTimer_.setInterval(180);
    connect(&flashTimer_, &QTimer::timeout, this, &LadderView::flashStep);
}

void LadderView::flashStep() {
    if (flashPhase_ > 0) --flashPhase_;
    if (flashPhase_ == 0) flashTimer_.stop();
    delegate_->setFlash(flashShown() ? std::optional<std::int64_t>(flashPrice_) : std::nullopt);
    viewport()->update();
}

void LadderView::flashPrice(std::int64_t price) {
    flashPrice_ = price;
    flashPhase_ = 6;
    delegate_->setFlash(std::nullopt);
    flashTimer_.start();
    // The first flash at once.
    flashStep();
}

bool LadderView::showChanges(const std::vector<LadderGrid::CellRef>& changed) {
    const int rowsBefore = model_->rowCount();
    gathering_ = true;
    changedTop_ = changedLeft_ = INT_MAX;
    changedBottom_ = changedRight_ = -1;
    model_->showChanges(changed);
    gathering_ = false;
    // One rectangle over the cells named, repainted at once: many small ones cost more in region
    // arithmetic and paint calls than the few cells between them that did not change.
    if (changedBottom_ >= 0 && model_->rowCount() == rowsBefore) {
        const int top = rowViewportPosition(changedTop_);
        const int bottom = rowViewportPosition(changedBottom_) + rowHeight(changedBottom_);
        int left = columnViewportPosition(changedLeft_);
        int right = columnViewportPosition(changedRight_) + columnWidth(changedRight_);
        // A hidden column has no place of its own: then the whole width.
        if (left < 0 || right <= left) left = 0, right = viewport()->width();
        viewport()->update(left, top, right - left, bottom - top);
        if (changedTop_ == 0 && headerPinned()) viewport()->update(left, 0, right - left, rowHeight(0));
    }
    // A width from the ini is a lower bound: a six-digit price or a header in this desktop's font
    // must not run into the next column.
    if (widthsFont_ != font() || widths_.size() > 4096) {
        widths_.clear();
        widthsFont_ = font();
    }
    bool widened = false;
    for (const LadderGrid::CellRef& ref : changed) {
        const std::string& text = grid_.cell(ref.row, ref.column);
        if (text.empty() || isColumnHidden(ref.column)) continue;
        const int needed = textWidth(text) + cellPadding;
        if (needed > columnWidth(ref.column)) {
            setColumnWidth(ref.column, needed);
            widened = true;
        }
    }
    // New rows take the ladder's row height, not Qt's default.
    if (model_->rowCount() != rowsBefore) {
        const int height = verticalHeader()->defaultSectionSize();
        for (int row = 0; row < model_->rowCount(); ++row) setRowHeight(row, height);
    }
    return widened;
}

int LadderView::textWidth(const std::string& text) {
    const auto known = widths_.find(text);
    if (known != widths_.end()) return known->second;
    const int width = QFontMetrics(font()).horizontalAdvance(QString::fromStdString(text));
    widths_.emplace(text, width);
    return width;
}

void LadderView::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles) {
    if (!gathering_ || QAccessible::isActive()) QTableView::dataChanged(topLeft, bottomRight, roles);
    if (!gathering_ || !topLeft.isValid() || !bottomRight.isValid()) return;
    changedTop_ = std::min(changedTop_, topLeft.row());
    changedBottom_ = std::max(changedBottom_, bottomRight.row());
    changedLeft_ = std::min(changedLeft_, topLeft.column());
    changedRight_ = std::max(changedRight_, bottomRight.column());
}

void LadderView::setLive(bool live) {
    if (delegate_->live() == live) return;
    delegate_->setLive(live);
    viewport()->update();
}

bool LadderView::live() const { return delegate_->live(); }

bool LadderView::headerPinned() const {
    return model() && model()->rowCount() > 0 && rowViewportPosition(0) < 0;
}

int LadderView::rowAtPoint(int y) const {
    return headerPinned() && y >= 0 && y < rowHeight(0) ? 0 : rowAt(y);
}

QModelIndex LadderView::indexAt(const QPoint& point) const {
    if (rowAtPoint(point.y()) != 0 || !headerPinned()) return QTableView::indexAt(point);
    const int column = columnAt(point.x());
    return column < 0 ? QModelIndex() : model()->index(0, column);
}

QRect LadderView::visualRect(const QModelIndex& index) const {
    const QRect rect = QTableView::visualRect(index);
    if (!index.isValid() || index.row() != 0 || !headerPinned()) return rect;
    return rect.translated(0, -rowViewportPosition(0));
}

void LadderView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    QTableView::scrollTo(index, hint);
    // A row that came to the top would lie under the header.
    QScrollBar* bar = verticalScrollBar();
    if (index.isValid() && index.row() > 0 && headerPinned() && rowViewportPosition(index.row()) < rowHeight(0))
        bar->setValue(bar->value() - 1);
}

QModelIndex LadderView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) {
    const QModelIndex moved = QTableView::moveCursor(cursorAction, modifiers);
    if (!moved.isValid() || moved.row() != 0) return moved;
    return model()->rowCount() > 1 ? model()->index(1, moved.column()) : QModelIndex();
}

void LadderView::scrollContentsBy(int dx, int dy) {
    QTableView::scrollContentsBy(dx, dy);
    // The scrolled pixels carried the header along; paint it back in place.
    if (dy != 0 && model() && model()->rowCount() > 0)
        viewport()->update(0, 0, viewport()->width(), rowHeight(0) + std::abs(dy));
}

// The table's own painting copies a style option, asks the style for a row panel (which the
// delegate paints over) and looks up the selection for every cell; here the option is made once
// a paint and each visible row is walked once, with the same cells, lines and states.
void LadderView::paintCells(QPainter& painter, const QRegion& region) {
    const int rows = model_->rowCount();
    constexpr int columns = LadderGrid::ColumnCount;
    const QBrush& background = viewport()->palette().brush(viewport()->backgroundRole());
    if (rows == 0) {
        for (const QRect& dirty : region) painter.fillRect(dirty, background);
        return;
    }
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    if (option.state & QStyle::State_Enabled) option.palette.setCurrentColorGroup(QPalette::Normal);
    const QStyle::State state = option.state;
    const int gridSize = showGrid() ? 1 : 0;
    const QPen gridPen(QColor::fromRgba(static_cast<QRgb>(style()->styleHint(QStyle::SH_Table_GridLineColor, &option, this))),
                       1, gridStyle());
    const QModelIndex current = currentIndex();
    const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
    QModelIndex selected;
    if (const QItemSelectionModel* selection = selectionModel(); selection && selection->hasSelection()) {
        const QModelIndexList indexes = selection->selectedIndexes();
        if (!indexes.isEmpty()) selected = indexes.front();
    }

    int columnLeft[columns], columnRight[columns];
    bool columnShown[columns];
    for (int column = 0; column < columns; ++column) {
        columnShown[column] = !isColumnHidden(column);
        columnLeft[column] = columnViewportPosition(column);
        columnRight[column] = columnLeft[column] + columnWidth(column) - gridSize;
    }
    const int lastX = horizontalHeader()->length() - horizontalHeader()->offset() - 1;
    const int lastY = verticalHeader()->length() - verticalHeader()->offset() - 1;
    painted_.assign(static_cast<std::size_t>(rows) * columns, 0);

    for (QRect dirty : region) {
        if (dirty.right() > lastX)
            painter.fillRect(QRect(QPoint(lastX + 1, dirty.top()), dirty.bottomRight()), background);
        if (dirty.bottom() > lastY)
            painter.fillRect(QRect(QPoint(dirty.left(), lastY + 1), dirty.bottomRight()), background);
        dirty.setBottom(std::min(dirty.bottom(), lastY));
        dirty.setRight(std::min(dirty.right(), lastX));
        if (!dirty.isValid()) continue;
        int left = columnAt(dirty.left()), right = columnAt(dirty.right());
        if (left < 0) left = 0;
        if (right < 0) right = columns - 1;
        int bottom = rowAt(dirty.bottom());
        if (bottom < 0) bottom = rows - 1;
        const int top = rowAt(dirty.top());
        if (top < 0 || top > bottom) continue;
        delegate_->beginCells(&painter);
        for (int row = top; row <= bottom; ++row) {
            const int rowY = rowViewportPosition(row);
            const int rowH = rowHeight(row) - gridSize;
            for (int column = left; column <= right; ++column) {
                std::uint8_t& done = painted_[static_cast<std::size_t>(row) * columns + static_cast<std::size_t>(column)];
                if (done || !columnShown[column]) continue;
                done = 1;
                const QModelIndex index = model_->index(row, column);
                option.rect = QRect(columnLeft[column], rowY, columnRight[column] - columnLeft[column], rowH);
                option.state = state;
                if (index == selected) option.state |= QStyle::State_Selected;
                if (focus && index == current) option.state |= QStyle::State_HasFocus;
                delegate_->paint(&painter, option, index);
            }
        }
        delegate_->endCells();
        if (!showGrid()) continue;
        painter.setPen(gridPen);
        for (int row = top; row <= bottom; ++row) {
            const int lineY = rowViewportPosition(row) + rowHeight(row) - gridSize;
            painter.drawLine(QLineF(dirty.left(), lineY, dirty.right(), lineY).translated(0.5, 0.5));
        }
        for (int column = left; column <= right; ++column) {
            if (!columnShown[column]) continue;
            painter.drawLine(QLineF(columnRight[column], dirty.top(), columnRight[column], dirty.bottom()).translated(0.5, 0.5));
        }
    }
}

void LadderView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    paintCells(painter, event->region());
    if (away_ != Away::None) {
        const int band = 4;
        const int top = away_ == Away::Above ? (model() && model()->rowCount() > 0 ? rowHeight(0) : 0)
                                             : viewport()->height() - band;
        painter.fillRect(0, top, viewport()->width(), band, QColor(0, 90, 200));
    }
    if (!headerPinned()) return;
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QColor gridColor =
        QColor::fromRgba(static_cast<QRgb>(style()->styleHint(QStyle::SH_Table_GridLineColor, &option, this)));
    const int bottom = rowHeight(0) - 1;
    for (int column = 0; column < model()->columnCount(); ++column) {
        const QModelIndex index = model()->index(0, column);
        QStyleOptionViewItem cellOption = option;
        cellOption.rect = visualRect(index);
        cellOption.state &= ~(QStyle::State_HasFocus | QStyle::State_Selected);
        itemDelegateForIndex(index)->paint(&painter, cellOption, index);
    }
    // Grid lines last, as the table draws them, so that no text runs past its cell.
    painter.setPen(gridColor);
    int right = 0;
    for (int column = 0; column < model()->columnCount(); ++column) {
        right = columnViewportPosition(column) + columnWidth(column) - 1;
        if (showGrid()) painter.drawLine(right, 0, right, bottom);
    }
    if (showGrid()) painter.drawLine(0, bottom, right, bottom);
}

LadderView::BorderHit LadderView::borderAt(const QPoint& position) const {
    if (!model()) return {};
    const int row = rowAtPoint(position.y());
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
    if (index.isValid() && index.row() > 0 && button != MouseButton::Other) setCurrentIndex(index);

    if (button == MouseButton::Left) {
        const BorderHit hit = borderAt(position);
        if (hit.kind != Border::None) {
            dragging_ = hit;
            dragOrigin_ = hit.kind == Border::Column ? position.x() : position.y();
            dragStartSize_ = hit.kind == Border::Column ? columnWidth(hit.section) : rowHeight(hit.section);
        }
    }
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool ownColumn = column == LadderGrid::OwnSell || column == LadderGrid::OwnBuy;
    if (button == MouseButton::Left && dragging_.kind == Border::None && ownColumn && row > 0 &&
        !grid_.cell(row, column).empty()) {
        held_ = {column, row, shift};
        event->accept();
        return;
    }
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
    const HeldPress held = held_;
    held_ = {};
    event->accept();
    if (held.row < 0 || event->button() != Qt::LeftButton) return;
    const int row = rowAtPoint(event->position().toPoint().y());
    if (row == held.row) emit cellPressed(MouseButton::Left, held.shift, held.column, held.row);
    // Let go off the rows: nothing, rather than a guess.
    else if (row > 0) emit ownQuantityDragged(held.column, held.row, row);
}

void LadderView::wheelEvent(QWheelEvent* event) {
    if (!prices_) return QTableView::wheelEvent(event);
    // A notch is 120; a touchpad sends less at a time.
    wheelRemainder_ += event->angleDelta().y();
    const int rows = wheelRemainder_ / 40;
    wheelRemainder_ -= rows * 40;
    if (rows != 0) emit wheelRows(rows);
    event->accept();
}

void LadderView::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    if (!prices_) return;
    const int height = std::max(verticalHeader()->defaultSectionSize(), 1);
    emit visibleRowsChanged(std::max(viewport()->height() / height, 2));
}

void LadderView::enterEvent(QEnterEvent* event) {
    QTableView::enterEvent(event);
    emit pointerOver(true);
}

void LadderView::leaveEvent(QEvent* event) {
    QTableView::leaveEvent(event);
    emit pointerOver(false);
}

void LadderView::setPricesMode(bool prices) {
    prices_ = prices;
    setVerticalScrollBarPolicy(prices ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    if (prices) {
        verticalScrollBar()->setValue(0);
        const int height = std::max(verticalHeader()->defaultSectionSize(), 1);
        emit visibleRowsChanged(std::max(viewport()->height() / height, 2));
    }
}

void LadderView::setAwayMarker(Away away) {
    if (away == away_) return;
    away_ = away;
    viewport()->update();
}

}  // namespace velmora
