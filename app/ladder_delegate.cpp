#include "app/ladder_delegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <qdrawutil.h>

namespace velmora {

const QColor LadderDelegate::Plain(255, 255, 255);
const QColor LadderDelegate::Ask(255, 213, 213);
const QColor LadderDelegate::Bid(221, 255, 221);
const QColor LadderDelegate::StopAboveMarket(170, 255, 170);
const QColor LadderDelegate::StopBelowMarket(255, 136, 136);
const QColor LadderDelegate::NotLiveText(128, 128, 128);

QColor ladderCellColor(const LadderGrid& grid, int row, int column, bool live) {
    if (!live) return LadderDelegate::Plain;
    const bool hasAsk = !grid.cell(row, LadderGrid::SellQuantity).empty();
    const bool hasBid = !grid.cell(row, LadderGrid::BuyQuantity).empty();
    QColor color = LadderDelegate::Plain;
    if (hasAsk && (column == LadderGrid::SellQuantity || column == LadderGrid::PriceColumn))
        color = LadderDelegate::Ask;
    if (hasBid && (column == LadderGrid::PriceColumn || column == LadderGrid::BuyQuantity))
        color = LadderDelegate::Bid;
    if (column == LadderGrid::Stop && !grid.cell(row, LadderGrid::Stop).empty()) {
        if (hasAsk) color = LadderDelegate::StopAboveMarket;
        if (hasBid) color = LadderDelegate::StopBelowMarket;
    }
    return color;
}

LadderDelegate::LadderDelegate(const LadderGrid& grid, QObject* parent)
    : QStyledItemDelegate(parent), grid_(grid) {}

void LadderDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
    const int row = index.row();
    const int column = index.column();
    const QString text = QString::fromStdString(grid_.cell(row, column));
    painter->save();
    if (row == 0) {
        paintHeaderCell(painter, option, text);
    } else {
        painter->fillRect(option.rect, ladderCellColor(grid_, row, column, live_));
        QFont font = option.font;
        if (column == LadderGrid::OwnSell || column == LadderGrid::OwnBuy) font.setBold(true);
        painter->setFont(font);
        painter->setPen(live_ ? option.palette.color(QPalette::Text) : NotLiveText);
        const QFontMetrics metrics(font);
        painter->setClipping(false);
        painter->drawText(option.rect.topLeft() + QPoint(1, 1 + metrics.ascent()), text);
    }
    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.rect = option.rect;
        focus.backgroundColor = option.palette.color(QPalette::Base);
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
    }
    painter->restore();
}

void LadderDelegate::paintHeaderCell(QPainter* painter, const QStyleOptionViewItem& option,
                                     const QString& text) const {
    qDrawShadePanel(painter, option.rect, option.palette, false, 1, &option.palette.brush(QPalette::Button));
    painter->setFont(option.font);
    painter->setPen(option.palette.color(QPalette::ButtonText));
    const QFontMetrics metrics(option.font);
    painter->drawText(option.rect.topLeft() + QPoint(2, 2 + metrics.ascent()), text);
}

}  // namespace velmora
