#include "app/ladder_delegate.h"

#include <QApplication>
#include <QFontMetricsF>
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

void LadderDelegate::beginCells(QPainter* painter) {
    cellsPainter_ = painter;
    fontSet_ = nullptr;
    penKnown_ = false;
}

void LadderDelegate::useFont(QPainter* painter, const QFont& font) const {
    if (painter == cellsPainter_ && fontSet_ == &font) return;
    painter->setFont(font);
    if (painter == cellsPainter_) fontSet_ = &font;
}

void LadderDelegate::usePen(QPainter* painter, const QColor& color) const {
    if (painter == cellsPainter_ && penKnown_ && penSet_ == color) return;
    painter->setPen(color);
    if (painter != cellsPainter_) return;
    penSet_ = color;
    penKnown_ = true;
}

void LadderDelegate::drawCellText(QPainter* painter, const QPoint& baseline, const std::string& text,
                                  const QFont& font) const {
    const Fonts& fonts = fonts_;
    const int kind = &font == &fonts.base ? 0 : &font == &fonts.bold ? 1 : &font == &fonts.italic ? 2 : 3;
    auto& laidOut = laidOut_[kind];
    auto known = laidOut.find(text);
    if (known == laidOut.end()) {
        if (laidOut.size() > 4096) laidOut.clear();
        // The cells hold digits, separators and signs: no conversion beyond Latin-1.
        QStaticText staticText(QString(QLatin1StringView(text.data(), static_cast<qsizetype>(text.size()))));
        staticText.setTextFormat(Qt::PlainText);
        staticText.prepare(QTransform(), font);
        known = laidOut.emplace(text, std::move(staticText)).first;
    }
    // A laid-out text is placed by its top; the line's ascent lies between it and the baseline.
    painter->drawStaticText(QPointF(baseline.x(), baseline.y() - fonts.ascentF[kind]), known->second);
}

const LadderDelegate::Fonts& LadderDelegate::fontsFor(const QFont& base) const {
    if (fontsSet_ && base == fonts_.base) return fonts_;
    fontSet_ = nullptr;
    for (auto& laidOut : laidOut_) laidOut.clear();
    fonts_.base = base;
    fonts_.bold = base;
    fonts_.bold.setBold(true);
    fonts_.italic = base;
    fonts_.italic.setItalic(true);
    fonts_.boldItalic = fonts_.bold;
    fonts_.boldItalic.setItalic(true);
    fonts_.ascent = QFontMetrics(base).ascent();
    const QFont* each[] = {&fonts_.base, &fonts_.bold, &fonts_.italic, &fonts_.boldItalic};
    for (int kind = 0; kind < 4; ++kind) fonts_.ascentF[kind] = QFontMetricsF(*each[kind]).ascent();
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
        const QFont& font = own ? (pending ? fonts.boldItalic : fonts.bold) : fonts.base;
        useFont(painter, font);
        usePen(painter, live_ ? option.palette.color(QPalette::Text) : NotLiveText);
        if (!cell.empty()) {
            const bool clipped = painter->hasClipping();
            painter->setClipping(false);
            drawCellText(painter, option.rect.topLeft() + QPoint(1, 1 + fonts.ascent), cell, font);
            painter->setClipping(clipped);
        }
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
        usePen(painter, color);
        painter->drawRect(cell.adjusted(0, 0, -1, -1));
        useFont(painter, fonts.bold);
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
