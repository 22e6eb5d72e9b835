#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include "app/ladder_delegate.h"
#include "app/ladder_view.h"
#include <QHeaderView>

#include "ladder/ladder_grid.h"

using namespace velmora;

namespace {

// The ladder's grid shown as the window shows it: the design's font, rows of 20 pixels,
// columns of 40 and the header row.
struct Ladder {
    LadderGrid cells{8};
    LadderView view{cells};
    LadderView* grid = &view;
    std::vector<LadderGrid::CellRef> changes;

    Ladder() {
        QFont font(QStringLiteral("Courier New"), 8);
        font.setStyleHint(QFont::TypeWriter);
        view.setFont(font);
        view.verticalHeader()->setDefaultSectionSize(20);
        for (int c = 0; c < 6; ++c) view.setColumnWidth(c, 40);
        view.resize(250, 600);
        const char* header[] = {"свой", "к.прод", "цена", "к.куп", "свой", "стоп"};
        for (int c = 0; c < 6; ++c) cells.setCell(0, c, header[c]);
        update();
    }

    void update() {
        cells.takeChangedCells(changes);
        view.showChanges(changes);
    }

    void row(int r, const char* ownSell, const char* sell, const char* price, const char* buy, const char* ownBuy,
             const char* stop) {
        const char* texts[] = {ownSell, sell, price, buy, ownBuy, stop};
        for (int c = 0; c < 6; ++c) cells.setCell(r, c, texts[c]);
    }

    QImage paint() {
        update();
        return grid->viewport()->grab().toImage();
    }

    // A point of the cell far from its text and its grid lines.
    QColor background(const QImage& image, int r, int c) const {
        const QRect cell = grid->visualRect(grid->model()->index(r, c));
        return image.pixelColor(cell.right() - 3, cell.bottom() - 3);
    }

    // Dark pixels drawn in a cell: the weight of its text.
    int ink(const QImage& image, int r, int c) const {
        const QRect cell = grid->visualRect(grid->model()->index(r, c)).adjusted(0, 0, -1, -1);
        int count = 0;
        for (int y = cell.top(); y <= cell.bottom(); ++y)
            for (int x = cell.left(); x <= cell.right(); ++x)
                if (qGray(image.pixel(x, y)) < 128) ++count;
        return count;
    }
};

}  // namespace

class LadderViewTest : public QObject {
    Q_OBJECT
private slots:
    void eachCellKindHasItsColour();
    void ownQuantitiesAreBoldAndTheHeaderIsLeftAlone();
    void barsGrowFromThePriceAndARejectedRowFlashes();
    void onlyChangedCellsAndTheirDependentsRepaint();
    void everyPressIsReportedWithItsCell();
    void columnAndRowBordersCanBeDragged();
    void headerRowStaysInViewAndNeverBecomesCurrent();
};

void LadderViewTest::eachCellKindHasItsColour() {
    Ladder l;
    l.row(1, "", "7", "101.5", "", "", "2");   // ask with a stop above the market
    l.row(2, "3", "4", "101.0", "", "", "");   // ask with an own quantity
    l.row(3, "", "", "100.5", "6", "1", "5");  // bid with a stop below the market
    l.row(4, "", "", "", "", "", "9");         // blank row: a stop total alone stays plain
    l.view.show();
    const QImage image = l.paint();

    QCOMPARE(l.background(image, 1, 0), LadderDelegate::Plain);
    QCOMPARE(l.background(image, 1, 1), LadderDelegate::Ask);
    QCOMPARE(l.background(image, 1, 2), LadderDelegate::Ask);
    QCOMPARE(l.background(image, 1, 3), LadderDelegate::Plain);
    QCOMPARE(l.background(image, 1, 4), LadderDelegate::Plain);
    QCOMPARE(l.background(image, 1, 5), LadderDelegate::StopAboveMarket);
    QCOMPARE(l.background(image, 2, 0), LadderDelegate::Plain);
    QCOMPARE(l.background(image, 2, 5), LadderDelegate::Plain);
    QCOMPARE(l.background(image, 3, 1), LadderDelegate::Plain);
    QCOMPARE(l.background(image, 3, 2), LadderDelegate::Bid);
    QCOMPARE(l.background(image, 3, 3), LadderDelegate::Bid);
    QCOMPARE(l.background(image, 3, 4), LadderDelegate::Plain);
    QCOMPARE(l.background(image, 3, 5), LadderDelegate::StopBelowMarket);
    for (int c = 0; c < 6; ++c) QCOMPARE(l.background(image, 4, c), LadderDelegate::Plain);

    // Both sides filled (never after a refresh): the bid rule and the stop below win.
    QCOMPARE(ladderCellColor(l.cells, 1, 2), LadderDelegate::Ask);
    l.cells.setCell(1, 3, "1");
    QCOMPARE(ladderCellColor(l.cells, 1, 2), LadderDelegate::Bid);
    QCOMPARE(ladderCellColor(l.cells, 1, 5), LadderDelegate::StopBelowMarket);
}

void LadderViewTest::ownQuantitiesAreBoldAndTheHeaderIsLeftAlone() {
    Ladder l;
    l.row(5, "888", "", "", "", "888", "888");
    l.view.show();
    const QImage image = l.paint();
    const int plain = l.ink(image, 5, 5);
    QVERIFY(plain > 0);
    QVERIFY(l.ink(image, 5, 0) > plain);
    QVERIFY(l.ink(image, 5, 4) > plain);

    const QColor buttonFace = l.grid->palette().color(QPalette::Button);
    for (int c = 0; c < 6; ++c) QCOMPARE(l.background(image, 0, c), buttonFace);
    QVERIFY(l.ink(image, 0, 0) > 0);
}

void LadderViewTest::barsGrowFromThePriceAndARejectedRowFlashes() {
    Ladder l;
    l.row(3, "", "10", "101", "", "", "");
    l.row(4, "", "", "100", "5", "", "");
    l.cells.setLook(3, LadderGrid::SellQuantity, CellLook{10, 0, 0});
    l.cells.setLook(4, LadderGrid::BuyQuantity, CellLook{5, 0, 0});
    l.cells.setRowPrice(3, 101);
    l.cells.setRowPrice(4, 100);
    l.cells.updateBarScales();
    l.view.show();
    QImage image = l.paint();
    auto at = [&](int r, int c, bool left) {
        const QRect cell = l.grid->visualRect(l.grid->model()->index(r, c));
        return image.pixelColor(left ? cell.left() + 2 : cell.right() - 3, cell.bottom() - 3);
    };
    // The largest fills its cell; half of it, the half next to the price.
    QCOMPARE(at(3, LadderGrid::SellQuantity, true), LadderDelegate::AskBar);
    QCOMPARE(at(4, LadderGrid::BuyQuantity, true), LadderDelegate::BidBar);
    QCOMPARE(at(4, LadderGrid::BuyQuantity, false), LadderDelegate::Bid);

    l.view.flashPrice(100);
    image = l.paint();
    QCOMPARE(at(4, LadderGrid::PriceColumn, false), LadderDelegate::Flash);
    QCOMPARE(at(3, LadderGrid::PriceColumn, false), LadderDelegate::Ask);
    QTRY_VERIFY_WITH_TIMEOUT(!l.view.flashShown(), 400);
    QTRY_VERIFY_WITH_TIMEOUT(l.view.flashShown(), 400);
    // Three flashes, then it stays off.
    QTest::qWait(1300);
    QVERIFY(!l.view.flashShown());
}

void LadderViewTest::onlyChangedCellsAndTheirDependentsRepaint() {
    Ladder l;
    l.row(2, "", "5", "100", "", "", "1");
    l.view.show();
    l.paint();
    QSignalSpy changed(l.grid->model(), &QAbstractItemModel::dataChanged);
    QSignalSpy reset(l.grid->model(), &QAbstractItemModel::modelReset);

    l.cells.setCell(3, 4, "2");
    l.update();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed[0][0].toModelIndex(), l.grid->model()->index(3, 4));
    QCOMPARE(changed[0][1].toModelIndex(), l.grid->model()->index(3, 4));

    // The level at 100 turns from an offer into a bid: the price and stop cells,
    // whose texts stay, must be repainted in their new colours too.
    l.cells.clearCell(2, 1);
    l.cells.setCell(2, 3, "4");
    changed.clear();
    l.update();
    QSet<int> repainted;
    for (const auto& signal : changed) {
        const QModelIndex cell = signal[0].toModelIndex();
        QCOMPARE(cell.row(), 2);
        repainted.insert(cell.column());
    }
    QCOMPARE(repainted, (QSet<int>{1, 2, 3, 5}));
    const QImage image = l.paint();
    QCOMPARE(l.background(image, 2, 2), LadderDelegate::Bid);
    QCOMPARE(l.background(image, 2, 5), LadderDelegate::StopBelowMarket);
    QCOMPARE(reset.count(), 0);

    l.cells.setRowCount(12);
    l.update();
    QCOMPARE(reset.count(), 1);
    QCOMPARE(l.grid->model()->rowCount(), 12);
    QCOMPARE(l.grid->rowHeight(11), 20);
}

void LadderViewTest::everyPressIsReportedWithItsCell() {
    Ladder l;
    l.view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&l.view));
    QSignalSpy pressed(l.grid, &LadderView::cellPressed);
    auto centre = [&](int r, int c) { return l.grid->visualRect(l.grid->model()->index(r, c)).center(); };

    QTest::mouseClick(l.grid->viewport(), Qt::LeftButton, Qt::ShiftModifier, centre(3, 1));
    QCOMPARE(pressed.count(), 1);
    QCOMPARE(pressed[0][0].value<MouseButton>(), MouseButton::Left);
    QCOMPARE(pressed[0][1].toBool(), true);
    QCOMPARE(pressed[0][2].toInt(), 1);
    QCOMPARE(pressed[0][3].toInt(), 3);

    QTest::mouseClick(l.grid->viewport(), Qt::RightButton, Qt::NoModifier, centre(5, 5));
    QCOMPARE(pressed.count(), 2);
    QCOMPARE(pressed[1][0].value<MouseButton>(), MouseButton::Right);
    QCOMPARE(pressed[1][1].toBool(), false);
    QCOMPARE(l.grid->currentIndex(), l.grid->model()->index(5, 5));

    // Through the window, as the platform delivers it: the second press comes as a double click.
    QWidget* viewport = l.grid->viewport();
    QTest::mouseDClick(l.view.windowHandle(), Qt::LeftButton, Qt::NoModifier,
                       viewport->mapTo(&l.view, centre(4, 3)));
    QCOMPARE(pressed.count(), 4);
    QCOMPARE(pressed[2][3].toInt(), 4);
    QCOMPARE(pressed[3][2].toInt(), 3);
    QCOMPARE(pressed[3][3].toInt(), 4);

    QTest::mouseClick(l.grid->viewport(), Qt::MiddleButton, Qt::NoModifier, centre(2, 2));
    QCOMPARE(pressed[4][0].value<MouseButton>(), MouseButton::Other);

    // An own quantity: a click is told on its release; let go on another row it is a drag.
    l.row(3, "2", "", "101", "", "", "");
    l.update();
    QSignalSpy dragged(l.grid, &LadderView::ownQuantityDragged);
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, centre(3, 0));
    QCOMPARE(pressed.count(), 6);
    QCOMPARE(pressed[5][2].toInt(), 0);
    QCOMPARE(pressed[5][3].toInt(), 3);
    QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, centre(3, 0));
    QCOMPARE(pressed.count(), 6);
    QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, centre(6, 0));
    QCOMPARE(pressed.count(), 6);
    QCOMPARE(dragged.count(), 1);
    QCOMPARE(dragged[0][0].toInt(), 0);
    QCOMPARE(dragged[0][1].toInt(), 3);
    QCOMPARE(dragged[0][2].toInt(), 6);
}

void LadderViewTest::columnAndRowBordersCanBeDragged() {
    Ladder l;
    l.view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&l.view));
    QWidget* viewport = l.grid->viewport();
    // The header's caption may have widened its column past the ini's width in this font.
    const int sellWidth = l.grid->columnWidth(1), priceWidth = l.grid->columnWidth(2);
    const QRect header = l.grid->visualRect(l.grid->model()->index(0, 1));
    QPoint border(header.right() + 1, header.center().y());
    QTest::mousePress(viewport, Qt::LeftButton, {}, border);
    QTest::mouseMove(viewport, border + QPoint(15, 0));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, border + QPoint(15, 0));
    QCOMPARE(l.grid->columnWidth(1), sellWidth + 15);
    QCOMPARE(l.grid->columnWidth(2), priceWidth);

    const QRect cell = l.grid->visualRect(l.grid->model()->index(3, 0));
    border = QPoint(cell.center().x(), cell.bottom() + 1);
    QTest::mousePress(viewport, Qt::LeftButton, {}, border);
    QTest::mouseMove(viewport, border + QPoint(0, -6));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, border + QPoint(0, -6));
    QCOMPARE(l.grid->rowHeight(3), 14);
    QCOMPARE(l.grid->rowHeight(4), 20);

    // Away from a border a drag resizes nothing.
    const QPoint inside = l.grid->visualRect(l.grid->model()->index(5, 2)).center();
    QTest::mousePress(viewport, Qt::LeftButton, {}, inside);
    QTest::mouseMove(viewport, inside + QPoint(10, 10));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, inside + QPoint(10, 10));
    QCOMPARE(l.grid->columnWidth(2), 40);
    QCOMPARE(l.grid->rowHeight(5), 20);
}

void LadderViewTest::headerRowStaysInViewAndNeverBecomesCurrent() {
    Ladder l;
    l.cells.setRowCount(81);
    l.update();
    for (int r = 1; r < 81; ++r) {
        const std::string price = std::to_string(2000 - r);
        l.row(r, "", r <= 40 ? "5" : "", price.c_str(), r > 40 ? "7" : "", "", "");
    }
    l.view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&l.view));
    QScrollBar* bar = l.grid->verticalScrollBar();
    const int headerHeight = l.grid->rowHeight(0);
    auto headerStrip = [&] {
        const QImage image = l.paint();
        return image.copy(0, 0, image.width(), headerHeight);
    };
    const QImage header = headerStrip();

    bar->setValue(bar->maximum());
    QVERIFY(bar->value() > 10);
    QCOMPARE(headerStrip(), header);
    bar->setValue(bar->maximum() / 2);
    QCOMPARE(headerStrip(), header);

    // A click there is a click on the header row, and leaves the current cell alone.
    QSignalSpy pressed(l.grid, &LadderView::cellPressed);
    const QPoint inHeader(l.grid->columnViewportPosition(2) + 5, headerHeight / 2);
    QTest::mouseClick(l.grid->viewport(), Qt::LeftButton, Qt::NoModifier, inHeader);
    QCOMPARE(pressed.count(), 1);
    QCOMPARE(pressed[0][2].toInt(), 2);
    QCOMPARE(pressed[0][3].toInt(), 0);
    QVERIFY(l.grid->currentIndex().row() != 0);

    // The cursor keys stop at the first data row, which shows below the header.
    l.grid->setFocus();
    l.grid->setCurrentIndex(l.grid->model()->index(45, 2));
    for (int i = 0; i < 50; ++i) QTest::keyClick(l.grid, Qt::Key_Up);
    QCOMPARE(l.grid->currentIndex().row(), 1);
    QVERIFY(l.grid->visualRect(l.grid->currentIndex()).top() >= headerHeight);
    QTest::keyClick(l.grid, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(l.grid->currentIndex().row(), 1);
    QCOMPARE(headerStrip(), header);
}

QTEST_MAIN(LadderViewTest)
#include "test_ladder_view.moc"
