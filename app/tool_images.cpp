#include "app/tool_images.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace velmora {

namespace {

constexpr int ImageSize = 16;

QPixmap blank() {
    QPixmap pixmap(ImageSize, ImageSize);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void drawArrowToCorner(QPainter& p) {
    p.setPen(QPen(QColor(0, 0, 128), 2));
    p.drawLine(13, 13, 4, 4);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 128));
    p.drawPolygon(QPolygon({QPoint(2, 2), QPoint(9, 2), QPoint(2, 9)}));
    p.setPen(QPen(Qt::darkGray, 1));
    p.drawLine(0, 0, 15, 0);
    p.drawLine(0, 0, 0, 15);
}

void drawPin(QPainter& p) {
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(220, 40, 40));
    p.drawEllipse(QRect(4, 1, 8, 7));
    p.drawRect(QRect(6, 7, 4, 3));
    p.setPen(QPen(Qt::darkGray, 2));
    p.drawLine(8, 10, 8, 15);
}

void drawView(QPainter& p, ToolImage view) {
    const bool full = view == ToolImage::FullView;
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::white);
    const int width = full ? 15 : 8;
    p.drawRect(QRect(0, 2, width, 12));
    p.fillRect(QRect(1, 3, width - 1, 2), QColor(0, 0, 128));
    p.setPen(QPen(Qt::darkGray, 1));
    for (int y = 7; y < 14; y += 2) p.drawLine(2, y, 6, y);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 128, 0));
    if (full)  // shrink
        p.drawPolygon(QPolygon({QPoint(14, 7), QPoint(14, 13), QPoint(10, 10)}));
    else  // widen
        p.drawPolygon(QPolygon({QPoint(11, 6), QPoint(11, 14), QPoint(15, 10)}));
}

void drawDisk(QPainter& p) {
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(40, 60, 160));
    p.drawRect(QRect(1, 1, 13, 13));
    p.setBrush(Qt::white);
    p.drawRect(QRect(4, 1, 7, 5));
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(QRect(3, 9, 9, 5));
}

void drawFontLetter(QPainter& p) {
    QFont font(QStringLiteral("Serif"));
    font.setPixelSize(15);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(0, 0, 128));
    p.drawText(QRect(0, 0, ImageSize, ImageSize), Qt::AlignCenter, QStringLiteral("A"));
    p.setPen(QPen(QColor(200, 0, 0), 2));
    p.drawLine(1, 15, 14, 15);
}

void drawHouse(QPainter& p) {
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(200, 60, 40));
    p.drawPolygon(QPolygon({QPoint(8, 1), QPoint(15, 8), QPoint(1, 8)}));
    p.setBrush(QColor(240, 220, 170));
    p.drawRect(QRect(3, 8, 10, 7));
    p.setBrush(QColor(120, 70, 30));
    p.drawRect(QRect(7, 10, 3, 5));
}

}  // namespace

QIcon toolImage(ToolImage image) {
    QPixmap pixmap = blank();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    switch (image) {
        case ToolImage::ToLeftTop: drawArrowToCorner(painter); break;
        case ToolImage::StayOnTop: drawPin(painter); break;
        case ToolImage::ShortView:
        case ToolImage::FullView: drawView(painter, image); break;
        case ToolImage::Save: drawDisk(painter); break;
        case ToolImage::Font: drawFontLetter(painter); break;
        case ToolImage::HomePage: drawHouse(painter); break;
    }
    painter.end();
    return QIcon(pixmap);
}

QIcon programIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::white);
    QPainter painter(&pixmap);
    for (int row = 0; row < 4; ++row) {
        const QColor side = row < 2 ? QColor(255, 213, 213) : QColor(221, 255, 221);
        painter.fillRect(QRect(2, 2 + row * 7, 28, 6), side);
    }
    painter.setPen(Qt::darkGray);
    painter.drawRect(QRect(0, 0, 31, 31));
    painter.end();
    return QIcon(pixmap);
}

}  // namespace velmora
