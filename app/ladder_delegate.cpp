#include "app/ladder_delegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <qdrawutil.h>

namespace velmora {

const QColor LadderDelegate::Plain(255, 255, 255);
const QColor LadderDelegate::Ask(255, 213, 213);
const QColor LadderDelegate::Bid(221, 255, 221);
const QColor LadderDelegate::AskBar(255, 160, 160);
const QColor LadderDelegate::BidBar(150, 230, 150);
const QColor LadderDelegate::UnknownBar(205, 205, 205);
const QColor LadderDelegate::AskMark(200, 0, 0);
const QColor LadderDelegate::BidMark(0, 140, 0);
const QColor LadderDelegate::StopAboveMarket(170, 255, 170);
const QColor LadderDelegate::StopBelowMarket(255, 136, 136);
const QColor LadderDelegate::NotLiveText(128, 128, 128);
const QColor LadderDelegate::Flash(255, 190, 0);

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

const LadderDelegate::Fonts& LadderDelegate::fontsFor(const QFont& base) const {
    if (fontsSet_ && base == fonts_.base) return fonts_;
    fonts_.base = base;
    fonts_.bold = base;
    fonts_.bold.setBold(true);
    fonts_.italic = base;
    fonts_.italic.setItalic(true);
    fonts_.boldItalic = fonts_.bold;
    fonts_.boldItalic.setItalic(true);
    fonts_.ascent = QFontMetrics(base).ascent();
    fontsSet_ = true;
    return fonts_;
}

void LadderDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
    const int row = index.row();
    const int column = index.column();
    const std::string& cell = grid_.cell(row, column);
    if (row == 0) {
        painter->save();
        paintHeaderCell(painter, option, QString::fromStdString(cell));
        painter->restore();
    } else {
        const CellLook& look = grid_.look(row, column);
        const bool flashing = flash_ && grid_.rowPrice(row) == flash_;
        painter->fillRect(option.rect, flashing ? Flash : ladderCellColor(grid_, row, column, live_));
        if (live_ && look.bar > 0) paintBar(painter, option.rect, column, look);
        const Fonts& fonts = fontsFor(option.font);
        const bool own = column == LadderGrid::OwnSell || column == LadderGrid::OwnBuy;
        const bool pending = (look.marks & CellLook::Pending) != 0;
        painter->setFont(own ? (pending ? fonts.boldItalic : fonts.bold) : fonts.base);
        painter->setPen(live_ ? option.palette.color(QPalette::Text) : NotLiveText);
        // The cells hold digits, separators and signs: no conversion beyond Latin-1.
        text_.resize(0);
        text_.append(QLatin1StringView(cell.data(), static_cast<qsizetype>(cell.size())));
        const bool clipped = painter->hasClipping();
        painter->setClipping(false);
        painter->drawText(option.rect.topLeft() + QPoint(1, 1 + fonts.ascent), text_);
        painter->setClipping(clipped);
        if (live_ && look.marks != 0) paintMarks(painter, option.rect, column, look, fonts);
    }
    if (option.state & QStyle::State_HasFocus) {
        painter->save();
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.rect = option.rect;
        focus.backgroundColor = option.palette.color(QPalette::Base);
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
        painter->restore();
    }
}

void LadderDelegate::paintBar(QPainter* painter, const QRect& cell, int column, const CellLook& look) const {
    const std::int64_t scale = grid_.barScale(column);
    if (scale <= 0) return;
    const int length = static_cast<int>(static_cast<double>(cell.width()) * static_cast<double>(std::min(look.bar, scale)) /
                                        static_cast<double>(scale) + 0.5);
    if (length <= 0) return;
    QColor color = UnknownBar;
    if (column == LadderGrid::SellQuantity || (look.marks & CellLook::SellsLead)) color = AskBar;
    if (column == LadderGrid::BuyQuantity || (look.marks & CellLook::BuysLead)) color = BidBar;
    // The book's bars grow out from the price column; the volume's from its left edge.
    const int left = column == LadderGrid::SellQuantity ? cell.right() + 1 - length : cell.left();
    painter->fillRect(QRect(left, cell.top(), length, cell.height()), color);
}

void LadderDelegate::paintMarks(QPainter* painter, const QRect& cell, int column, const CellLook& look,
                                const Fonts& fonts) const {
    if (column == LadderGrid::PriceColumn && (look.marks & (CellLook::PositionLong | CellLook::PositionShort))) {
        // The entry price: a wedge at the cell's left edge, in the position's side's colour.
        const QColor color = (look.marks & CellLook::PositionLong) ? BidMark : AskMark;
        const int half = std::max(2, cell.height() / 2 - 1);
        const QPoint tip(cell.left() + half + 1, cell.center().y());
        const QPoint wedge[3] = {QPoint(cell.left(), tip.y() - half), QPoint(cell.left(), tip.y() + half), tip};
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->setPen(Qt::NoPen);
        painter->setBrush(color);
        painter->drawPolygon(wedge, 3);
        painter->restore();
    }
    if (column == LadderGrid::Volume && (look.marks & CellLook::LastTrade)) {
        // The last trade: a frame and its size at the right, in its aggressor's colour.
        const QColor color = (look.marks & CellLook::LastBuy) ? BidMark : (look.marks & CellLook::LastSell) ? AskMark
                                                                                                              : Qt::black;
        painter->setPen(color);
        painter->drawRect(cell.adjusted(0, 0, -1, -1));
        painter->setFont(fonts.bold);
        text_.setNum(look.size);
        const int width = QFontMetrics(fonts.bold).horizontalAdvance(text_);
        painter->drawText(QPoint(cell.right() - width - 1, cell.top() + 1 + fonts.ascent), text_);
    }
}

void LadderDelegate::paintHeaderCell(QPainter* painter, const QStyleOptionViewItem& option,
                                     const QString& text) const {
    qDrawShadePanel(painter, option.rect, option.palette, false, 1, &option.palette.brush(QPalette::Button));
    painter->setFont(option.font);
    painter->setPen(option.palette.color(QPalette::ButtonText));
    const QFontMetrics metrics(option.font);
    painter->drawText(option.rect.topLeft() + QPoint(1 + 1, 2 + metrics.ascent()), text);
}

}  // namespace velmora
