// The whole program against a real stand-in terminal: the window starts up by itself, shows the
// terminal's books, and the user's clicks and keys reach the terminal through quik.tri or the
// transaction library and come back as own quantities on later ticks; a killed terminal greys the
// ladder and stops the orders, and its successor in the same folder is followed.
#include <QAbstractItemView>
#include <QApplication>
#include <QAbstractButton>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QImage>
#include <QInputDialog>
#include <QPushButton>
#include <QTimer>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <map>
#include <memory>
#include <sstream>

#include "app/ladder_delegate.h"
#include "app/ladder_view.h"
#include "app/tfrm_main.h"
#include "core/session.h"
#include "orders/stop_orders.h"
#include "platform/clock.h"
#include "platform/text_encoding.h"
#include "platform/trans_library.h"
#include "support/fakes.h"
#include "support/standin_process.h"

using namespace velmora;
using namespace velmora::testing;

namespace {

QString priceText(std::uint32_t price, int decimals, char separator) {
    QString digits = QString::number(price).rightJustified(decimals + 1, QLatin1Char('0'));
    if (decimals > 0) digits.insert(digits.size() - decimals, QLatin1Char(separator));
    return digits;
}

int bestAskRow(int rows) { return rows - 1 - (rows - 1) / 2; }

struct ExpectedRow {
    QString cells[5];
};

// What the ladder must show for a book: the best ask in the middle row, asks rising upward
// from it, the best bid below it, bids falling downward; every other row empty.
std::vector<ExpectedRow> expectedLadder(const std::vector<BookLevel>& book, int rows, int decimals, char separator) {
    std::vector<ExpectedRow> expected(static_cast<std::size_t>(rows));
    std::vector<BookLevel> bids, asks;
    for (const BookLevel& level : book) (level.side == 'B' ? bids : asks).push_back(level);
    auto put = [&](int row, const BookLevel& level) {
        if (row < 1 || row >= rows) return;
        const bool sell = level.side == 'S';
        ExpectedRow& cells = expected[static_cast<std::size_t>(row)];
        cells.cells[2] = priceText(level.price, decimals, separator);
        cells.cells[sell ? 1 : 3] = QString::number(level.quantity);
        if (level.own != 0) cells.cells[sell ? 0 : 4] = QString::number(level.own);
    };
    for (std::size_t i = 0; i < asks.size(); ++i) put(bestAskRow(rows) - static_cast<int>(i), asks[i]);
    for (std::size_t i = 0; i < bids.size(); ++i) put(bestAskRow(rows) + 1 + static_cast<int>(i), bids[bids.size() - 1 - i]);
    return expected;
}

class WindowOnStandin {
public:
    // Starts a stand-in serving a fresh terminal folder, then the program with its window and
    // the deferred start-up, and waits until the ladder shows the default contract.
    // `iniValue` ("KEY=VALUE") replaces that key's line of the written ini; then the ladder is not waited for.
    void start(const QString& outputWay, const std::string& iniValue = {}) {
        const bool dll = outputWay == QLatin1String("DLL");
        terminal = std::make_unique<StandinProcess>(StandinProcess::serving(
            quik.path(), {"--static", "--dump-books", "--write-ini", app.file("Velmora.ini"), "--output-way",
                          outputWay.toStdString()}));
        books = readBookDump(*terminal);
        QVERIFY(!books.empty());
        if (!iniValue.empty()) {
            std::string ini = readFile(app.file("Velmora.ini"));
            const std::string key = iniValue.substr(0, iniValue.find('=') + 1);
            const std::size_t at = ini.find("\n" + key) + 1;
            QVERIFY(at != 0);
            ini.replace(at, ini.find('\r', at) - at, iniValue);
            writeFile(app.file("Velmora.ini"), ini);
        }
        auto only = std::make_unique<OnlyProcess>(makeSystemProcessAccess(), static_cast<std::uint32_t>(terminal->pid()));
        terminals = only.get();
        processes = std::move(only);
        if (dll) {
            standinLibrary = loadTransLibrary(VELMORA_BIN_DIR "/");
            QVERIFY2(standinLibrary->available(), standinLibrary->loadError().c_str());
        }
        session = std::make_unique<Session>(
            Platform{*processes, *clock, *locale, messages, dll ? *standinLibrary : unusedLibrary},
            SessionOptions{app.path()});
        window = std::make_unique<TfrmMain>(*session, TfrmMain::StartUp::Deferred);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTRY_VERIFY2_WITH_TIMEOUT(timer()->isActive(), readFile(app.file("Velmora.log")).c_str(), 5000);
        if (!iniValue.empty()) return;
        QVERIFY(session->instrumentChosen());
        QCOMPARE(combo()->currentText(), QStringLiteral("SiZ6"));
        QTRY_COMPARE_WITH_TIMEOUT(ladderMismatch("SiZ6", 0), QString(), 3000);
    }

    template <typename T>
    T* child(const char* name) const {
        return window->findChild<T*>(QLatin1String(name));
    }
    QComboBox* combo() const { return child<QComboBox>("cbSecName"); }
    LadderView* ladder() const { return child<LadderView>("sgDOM"); }
    QTimer* timer() const { return child<QTimer>("tmrRefreshDOM"); }
    QString cell(int row, int column) const { return ladder()->model()->index(row, column).data().toString(); }
    QLabel* info() const { return child<QLabel>("pnlInfo"); }
    QString caption() const { return info()->isVisible() ? info()->text() : QString(); }
    std::string log() const { return cp1251ToUtf8(readFile(app.file("Velmora.log"))); }

    // The colour painted near the right edge of a cell, clear of its text.
    QColor background(int row, int column) const {
        const QRect rect = ladder()->visualRect(ladder()->model()->index(row, column));
        const QImage image = ladder()->viewport()->grab().toImage();
        return image.pixelColor(rect.right() - 3, rect.center().y());
    }
    int rows() const { return ladder()->model()->rowCount(); }

    // The first cell where the window's ladder differs from the stand-in's last account of
    // `ticker`, or nothing.
    QString ladderMismatch(const std::string& ticker, int decimals) const {
        const std::vector<ExpectedRow> expected =
            expectedLadder(books.at(ticker), rows(), decimals, locale->decimalSeparator());
        for (int row = 1; row < rows(); ++row)
            for (int column = 0; column < 5; ++column)
                if (cell(row, column) != expected[static_cast<std::size_t>(row)].cells[column])
                    return QStringLiteral("row %1 column %2: shown '%3', book '%4'")
                        .arg(row)
                        .arg(column)
                        .arg(cell(row, column), expected[static_cast<std::size_t>(row)].cells[column]);
        return {};
    }

    void leftClick(int row, int column, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                   Qt::MouseButton button = Qt::LeftButton) {
        LadderView* view = ladder();
        const QRect rect = view->visualRect(view->model()->index(row, column));
        QVERIFY(view->viewport()->rect().contains(rect.center()));
        QTest::mouseClick(view->viewport(), button, modifiers, rect.center());
    }

    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* focused = QApplication::focusWidget();
        QTest::keyClick(focused ? focused : window.get(), key, modifiers);
    }

    TempFolder quik, app;
    std::unique_ptr<StandinProcess> terminal;
    BookDump books;
    std::unique_ptr<ProcessAccess> processes;
    OnlyProcess* terminals = nullptr;  // in `processes`
    std::unique_ptr<Clock> clock = makeSystemClock();
    std::unique_ptr<LocaleFormats> locale = makeSystemLocaleFormats();
    RecordingMessageSink messages;
    FakeTransLibrary unusedLibrary;
    std::unique_ptr<TransLibrary> standinLibrary;
    std::unique_ptr<Session> session;
    // Last, so it goes first: its shutdown still talks to the library and the stand-in.
    std::unique_ptr<TfrmMain> window;
};

// The first ladder row whose stop column shows a quantity, or -1.
int findStopRow(const WindowOnStandin& f) {
    for (int row = 1; row < f.rows(); ++row)
        if (!f.cell(row, 5).isEmpty()) return row;
    return -1;
}

}  // namespace

class WindowEndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void chooserOffersTheTerminalsBooksAndSwitchesTheLadder();
    void clicksAndHotkeysReachTheTerminalAndComeBackAsOwnQuantities_data();
    void clicksAndHotkeysReachTheTerminalAndComeBackAsOwnQuantities();
    void pricesWithDecimalsWorkFromTheLadderTheButtonsAndTheStopColumn();
    void aKilledTerminalGreysTheLadderRefusesOrdersAndARestartedOneIsFollowed_data();
    void aKilledTerminalGreysTheLadderRefusesOrdersAndARestartedOneIsFollowed();
    void aWrongDombaseSaysSoAndRefusesOrders();
    void narrowWidthsFromTheIniDoNotCutTexts();
};

void WindowEndToEndTest::chooserOffersTheTerminalsBooksAndSwitchesTheLadder() {
    WindowOnStandin f;
    f.start(QStringLiteral("TRI"));
    if (QTest::currentTestFailed()) return;

    QStringList tickers;
    for (const auto& [ticker, levels] : f.books) tickers << QString::fromStdString(ticker);
    std::sort(tickers.begin(), tickers.end(),
              [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    QStringList offered;
    for (int i = 0; i < f.combo()->count(); ++i) offered << f.combo()->itemText(i);
    QCOMPARE(offered, tickers);

    // Pick a contract with two decimals from the drop-down, as a user would.
    const int brent = f.combo()->findText(QStringLiteral("BRF7"));
    QVERIFY(brent >= 0);
    QTest::mouseClick(f.combo(), Qt::LeftButton);
    QAbstractItemView* list = f.combo()->view();
    QTRY_VERIFY(list->isVisible());
    // The drop-down ignores a release that follows its opening press too closely.
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    const QRect item = list->visualRect(list->model()->index(brent, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, item.center());
    QTRY_VERIFY(!list->isVisible());
    QCOMPARE(f.combo()->currentText(), QStringLiteral("BRF7"));
    QTRY_COMPARE_WITH_TIMEOUT(f.ladderMismatch("BRF7", 2), QString(), 3000);

    // A fresh discovery keeps the user's choice.
    QTest::mouseClick(f.child<QToolButton>("sbtnRefreshQuikTables"), Qt::LeftButton);
    QCOMPARE(f.combo()->currentText(), QStringLiteral("BRF7"));
    QCOMPARE(f.ladderMismatch("BRF7", 2), QString());
    QVERIFY(f.messages.shown.empty());
}

void WindowEndToEndTest::narrowWidthsFromTheIniDoNotCutTexts() {
    WindowOnStandin f;
    f.start(QStringLiteral("TRI"), "DOMCol3Width=12");
    if (QTest::currentTestFailed()) return;
    QTRY_VERIFY_WITH_TIMEOUT(!f.cell(21, LadderGrid::PriceColumn).isEmpty(), 5000);
    const QFontMetrics metrics(f.ladder()->font());
    for (int row = 0; row < f.rows(); ++row)
        for (int column = 0; column < LadderGrid::ColumnCount; ++column)
            QVERIFY2(f.ladder()->isColumnHidden(column) ||
                         f.ladder()->columnWidth(column) >= metrics.horizontalAdvance(f.cell(row, column)),
                     qPrintable(QStringLiteral("row %1 column %2: %3").arg(row).arg(column).arg(f.cell(row, column))));
    // The terminal's memory tells no trades: no volume column, no reset.
    QVERIFY(f.ladder()->isColumnHidden(LadderGrid::Volume));
    QVERIFY(!f.child<QToolButton>("sbtnResetVolume")->isVisible());
    auto* refresh = f.child<QToolButton>("sbtnRefreshQuikTables");
    QVERIFY(refresh->width() >= refresh->fontMetrics().horizontalAdvance(refresh->text()));
}

void WindowEndToEndTest::clicksAndHotkeysReachTheTerminalAndComeBackAsOwnQuantities_data() {
    QTest::addColumn<QString>("outputWay");
    QTest::newRow("quik.tri") << QStringLiteral("TRI");
    QTest::newRow("library") << QStringLiteral("DLL");
}

void WindowEndToEndTest::clicksAndHotkeysReachTheTerminalAndComeBackAsOwnQuantities() {
    QFETCH(QString, outputWay);
    const bool dll = outputWay == QLatin1String("DLL");
    WindowOnStandin f;
    f.start(outputWay);
    if (QTest::currentTestFailed()) return;
    QCOMPARE(f.session->libraryConnected(), dll);
    const std::string triFile = f.quik.file("quik.tri");
    const std::string troFile = f.quik.file("quik.tro");
    const std::string troBefore = readFile(troFile);

    // Three contracts a time, and a limit shift of 0 so that orders rest where they are placed.
    auto* contracts = f.child<QSpinBox>("seContractCnt");
    contracts->setFocus();
    QTest::keyClick(contracts, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(contracts, QStringLiteral("3"));
    QCOMPARE(contracts->value(), 3);
    auto* shift = f.child<QSpinBox>("seDefaultLimitOrderShift");
    QTest::keyClick(shift, Qt::Key_Down);
    QCOMPARE(shift->value(), 0);
    QCOMPARE(f.session->settings().DefaultLimitOrderShift, 0);

    const int askRow = bestAskRow(f.rows());
    const int bidRow = askRow + 1;
    const QString bestAsk = f.cell(askRow, 2);
    const QString bestBid = f.cell(bidRow, 2);
    const int ownBidBefore = f.cell(bidRow, 4).toInt();

    // "к.куп" of the best ask row sells there; the sell rests as the user's own offer.
    f.leftClick(askRow, 3);
    std::string tri = readFile(triFile);
    const std::string sell = "QUANTITY=3; PRICE=" + bestAsk.toStdString() + "; OPERATION=S; \r\n";
    if (dll)
        QVERIFY(tri.empty());
    else
        QVERIFY2(tri.find(sell) != std::string::npos && tri.find("SECCODE=SiZ6; ACTION=NEW_ORDER") != std::string::npos,
                 tri.c_str());
    f.books = readBookDump(*f.terminal);
    QVERIFY2(!f.books.empty(), readFile(troFile).c_str());
    QTRY_COMPARE_WITH_TIMEOUT(f.cell(askRow, 0), QStringLiteral("3"), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(f.ladderMismatch("SiZ6", 0), QString(), 3000);
    QCOMPARE(f.cell(askRow, 2), bestAsk);

    // Alt+F1, the market-plus buy: with shift 0 a bid at the best bid, where it rests.
    f.ladder()->setFocus();
    f.key(Qt::Key_F1, Qt::AltModifier);
    const std::string buy = "QUANTITY=3; PRICE=" + bestBid.toStdString() + "; OPERATION=B; \r\n";
    if (dll)
        QVERIFY(readFile(triFile).empty());
    else
        QVERIFY2(readFile(triFile).find(buy, tri.size()) != std::string::npos, readFile(triFile).c_str());
    f.books = readBookDump(*f.terminal);
    QVERIFY2(!f.books.empty(), readFile(troFile).c_str());
    QTRY_COMPARE_WITH_TIMEOUT(f.cell(bidRow, 4), QString::number(ownBidBefore + 3), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(f.ladderMismatch("SiZ6", 0), QString(), 3000);

    // "Заявки" lists them newest first (the library also knows the order placed by hand before this
    // start); a click on the sell's own quantity cancels it alone.
    auto* orders = f.child<QTableWidget>("sgOrders");
    QTRY_COMPARE_WITH_TIMEOUT(orders->rowCount(), dll ? 3 : 2, 3000);
    QCOMPARE(orders->item(0, 0)->text(), QStringLiteral("Куп"));
    QCOMPARE(orders->item(1, 0)->text(), QStringLiteral("Прод"));
    QCOMPARE(orders->item(1, 1)->text(), bestAsk);
    QCOMPARE(orders->item(1, 3)->text(), QStringLiteral("3"));
    f.leftClick(askRow, 0);
    f.books = readBookDump(*f.terminal);
    QVERIFY2(!f.books.empty(), readFile(troFile).c_str());
    QTRY_COMPARE_WITH_TIMEOUT(f.cell(askRow, 0), QString(), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(orders->rowCount(), dll ? 2 : 1, 3000);
    QCOMPARE(f.cell(bidRow, 4), QString::number(ownBidBefore + 3));

    // One order at each level with an own quantity here.
    std::size_t ordersBeforeKill = 0;
    for (const BookLevel& level : f.books.at("SiZ6")) ordersBeforeKill += level.own > 0;
    // F5 kills every order of the instrument, the one from an earlier session included.
    f.key(Qt::Key_F5);
    f.books = readBookDump(*f.terminal);
    QVERIFY2(!f.books.empty(), readFile(troFile).c_str());
    for (const BookLevel& level : f.books.at("SiZ6")) QCOMPARE(level.own, 0u);
    QTRY_COMPARE_WITH_TIMEOUT(f.ladderMismatch("SiZ6", 0), QString(), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(orders->rowCount(), 0, 3000);
    for (int row = 1; row < f.rows(); ++row) {
        QCOMPARE(f.cell(row, 0), QString());
        QCOMPARE(f.cell(row, 4), QString());
    }

    // The terminal's own answers in mode TRI: two orders and a kill accepted, each after its sent
    // line, nothing refused. In mode DLL they go to the library's callback, not to the file.
    const std::string answers = cp1251ToUtf8(readFile(troFile).substr(troBefore.size()));
    if (dll) {
        QVERIFY2(answers.empty(), answers.c_str());
    } else {
        const QString all = QString::fromStdString(answers);
        QCOMPARE(all.count(QStringLiteral("\r\n")), 8);
        QCOMPARE(all.count(QStringLiteral(";STATUS=0;")), 4);
        QCOMPARE(all.count(QStringLiteral(";STATUS=3;")), 4);
        QVERIFY2(answers.find("DESCRIPTION=\"(160) Заявка на продажу N ") != std::string::npos, answers.c_str());
        QVERIFY2(answers.find("DESCRIPTION=\"(160) Заявка на покупку N ") != std::string::npos, answers.c_str());
        QVERIFY2(answers.find("DESCRIPTION=\"Снято заявок: " + std::to_string(ordersBeforeKill) + ".\";") !=
                     std::string::npos,
                 answers.c_str());
    }
    QVERIFY(f.messages.shown.empty());
}

// Run once more with LANG and LC_ALL ru_RU.UTF-8: the ladder shows a decimal comma, and
// the price texts the user clicks must still read as numbers.
void WindowEndToEndTest::pricesWithDecimalsWorkFromTheLadderTheButtonsAndTheStopColumn() {
    WindowOnStandin f;
    f.start(QStringLiteral("TRI"));
    if (QTest::currentTestFailed()) return;
    const char separator = f.locale->decimalSeparator();
    if (qgetenv("LC_ALL").startsWith("ru_RU")) QCOMPARE(separator, ',');
    const int brent = f.combo()->findText(QStringLiteral("BRF7"));
    QVERIFY(brent >= 0);
    f.combo()->setCurrentIndex(brent);
    emit f.combo()->activated(brent);
    QTRY_COMPARE_WITH_TIMEOUT(f.ladderMismatch("BRF7", 2), QString(), 3000);
    auto* shift = f.child<QSpinBox>("seDefaultLimitOrderShift");
    shift->setValue(0);
    const std::string triFile = f.quik.file("quik.tri");
    const std::string quantity = "QUANTITY=" + std::to_string(f.child<QSpinBox>("seContractCnt")->value());
    auto pointed = [](QString text) { return text.replace(QLatin1Char(','), QLatin1Char('.')).toStdString(); };
    // Each action appends exactly this order to quik.tri.
    auto sent = [&](const std::string& before, const QString& price, char operation) {
        const std::string tri = readFile(triFile);
        const std::string order = "SECCODE=BRF7; ACTION=NEW_ORDER; TYPE=L; " + quantity + "; PRICE=" +
                                  pointed(price) + "; OPERATION=" + operation + "; \r\n";
        return tri.size() > before.size() && tri.find(order, before.size()) == tri.size() - order.size();
    };

    const int askRow = bestAskRow(f.rows());
    const int bidRow = askRow + 1;
    const QString bestAsk = f.cell(askRow, 2);
    const QString bestBid = f.cell(bidRow, 2);
    QVERIFY2(bestAsk.contains(QLatin1Char(separator)) && bestAsk.size() > 3, qPrintable(bestAsk));

    std::string before = readFile(triFile);
    f.leftClick(askRow, 3);
    QVERIFY2(sent(before, bestAsk, 'S'), readFile(triFile).c_str());
    before = readFile(triFile);
    f.leftClick(bidRow, 1);
    QVERIFY2(sent(before, bestBid, 'B'), readFile(triFile).c_str());

    // "цена" copies the shown text into the price field; "Купить" sends it.
    const QString lowerBid = f.cell(bidRow + 1, 2);
    f.leftClick(bidRow + 1, 2);
    QCOMPARE(f.child<QLineEdit>("lePrice")->text(), lowerBid);
    before = readFile(triFile);
    QTest::mouseClick(f.child<QAbstractButton>("sbtnBuy"), Qt::LeftButton);
    QVERIFY2(sent(before, lowerBid, 'B'), readFile(triFile).c_str());

    // A Shift-click sells and guards the sale with a buy stop one step above, shown in "стоп".
    const QString higherAsk = f.cell(askRow - 1, 2);
    before = readFile(triFile);
    f.leftClick(askRow - 1, 3, Qt::ShiftModifier);
    QVERIFY2(sent(before, higherAsk, 'S'), readFile(triFile).c_str());
    QCOMPARE(f.session->localStops()->Count(), 1);
    int stopRow = -1;
    QTRY_VERIFY_WITH_TIMEOUT((stopRow = findStopRow(f)) > 0, 3000);
    QVERIFY(stopRow < askRow);
    f.leftClick(stopRow, 5, Qt::NoModifier, Qt::RightButton);
    QCOMPARE(f.session->localStops()->Count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(f.cell(stopRow, 5), QString(), 3000);
    QVERIFY(f.messages.shown.empty());
}

void WindowEndToEndTest::aKilledTerminalGreysTheLadderRefusesOrdersAndARestartedOneIsFollowed_data() {
    clicksAndHotkeysReachTheTerminalAndComeBackAsOwnQuantities_data();
}

void WindowEndToEndTest::aKilledTerminalGreysTheLadderRefusesOrdersAndARestartedOneIsFollowed() {
    QFETCH(QString, outputWay);
    WindowOnStandin f;
    f.start(outputWay);
    if (QTest::currentTestFailed()) return;
    const std::string triFile = f.quik.file("quik.tri");
    const std::string troFile = f.quik.file("quik.tro");
    const int askRow = bestAskRow(f.rows());
    // F1 buys at the best ask, taking one lot off it; the ladder shows the smaller level.
    f.ladder()->setFocus();
    f.key(Qt::Key_F1);
    f.books = readBookDump(*f.terminal);
    QVERIFY(!f.books.empty());
    QTRY_COMPARE_WITH_TIMEOUT(f.ladderMismatch("SiZ6", 0), QString(), 3000);
    QCOMPARE(f.background(askRow, LadderGrid::PriceColumn), LadderDelegate::Ask);
    const QString shownAsk = f.cell(askRow, LadderGrid::SellQuantity);

    f.terminal->kill();
    QTRY_COMPARE_WITH_TIMEOUT(f.caption(), QStringLiteral("Нет связи с терминалом"), 3000);
    QCOMPARE(f.background(askRow, LadderGrid::PriceColumn), LadderDelegate::Plain);
    QCOMPARE(f.background(askRow + 1, LadderGrid::BuyQuantity), LadderDelegate::Plain);
    QCOMPARE(f.cell(askRow, LadderGrid::SellQuantity), shownAsk);  // the last rows stay
    const std::string triAtLoss = readFile(triFile);
    f.key(Qt::Key_F1);
    f.leftClick(askRow, LadderGrid::BuyQuantity);
    f.key(Qt::Key_F5);
    // A buy stop at the best bid would fire at once on a live book.
    f.session->AddStopOrder(Side::Buy, *f.session->ladder().rowPrice(askRow + 1), 1);
    QTest::qWait(500);
    QCOMPARE(f.session->localStops()->Count(), 1);
    QCOMPARE(readFile(triFile), triAtLoss);
    const std::string log = f.log();
    QVERIFY2(log.find("refused acMarketBUY: terminal lost") != std::string::npos, log.c_str());
    QVERIFY(log.find("refused ladder click: terminal lost") != std::string::npos);
    QVERIFY(log.find("refused acClearAllOrders: terminal lost") != std::string::npos);
    QCOMPARE(f.caption(), QStringLiteral("Нет связи с терминалом: снятие заявок не отправлено"));
    f.child<QToolButton>("sbtnClearAllStops")->click();
    QCOMPARE(f.session->localStops()->Count(), 0);

    const std::string troAtRestart = readFile(troFile);
    f.terminal = std::make_unique<StandinProcess>(StandinProcess::serving(f.quik.path(), {"--static", "--dump-books"}));
    QElapsedTimer restart;
    restart.start();
    f.books = readBookDump(*f.terminal);
    f.terminals->allow(static_cast<std::uint32_t>(f.terminal->pid()));
    QTRY_VERIFY_WITH_TIMEOUT(f.caption().isEmpty() && f.background(askRow, LadderGrid::PriceColumn) == LadderDelegate::Ask,
                             15000);
    std::printf("a restarted terminal's book live in the ladder after %lld ms\n", static_cast<long long>(restart.elapsed()));
    QCOMPARE(f.combo()->currentText(), QStringLiteral("SiZ6"));
    QCOMPARE(f.ladderMismatch("SiZ6", 0), QString());
    QVERIFY(f.cell(askRow, LadderGrid::SellQuantity) != shownAsk);  // the new book is whole again

    const QString bestAsk = f.cell(askRow, LadderGrid::PriceColumn);
    f.ladder()->setFocus();
    f.key(Qt::Key_F1);
    if (outputWay == QLatin1String("TRI"))
        QVERIFY(readFile(triFile).find("QUANTITY=1; PRICE=" + bestAsk.toStdString() + "; OPERATION=B; \r\n",
                                       triAtLoss.size()) != std::string::npos);
    QVERIFY(!readBookDump(*f.terminal).empty());
    const std::string tro = readFile(troFile);
    const std::string answers = cp1251ToUtf8(tro.size() >= troAtRestart.size() ? tro.substr(troAtRestart.size()) : tro);
    if (outputWay == QLatin1String("TRI")) {
        // The new terminal's first order of this session, after the one it kept from an earlier one.
        QVERIFY2(answers.find(";STATUS=3;TRANS_NAME=\"Ввод заявки\"; DESCRIPTION=\"(160) Заявка на покупку N 5000002 "
                              "зарегистрирована.\"; ORDER_NUMBER=5000002;\r\n") != std::string::npos,
                 answers.c_str());
        QCOMPARE(QString::fromStdString(answers).count(QStringLiteral("\r\n")), 2);
    } else {
        QVERIFY2(answers.empty(), answers.c_str());
    }
    QCOMPARE(f.session->libraryConnected(), outputWay == QLatin1String("DLL"));
    QVERIFY(f.messages.shown.empty());
}

void WindowEndToEndTest::aWrongDombaseSaysSoAndRefusesOrders() {
    WindowOnStandin f;
    f.start(QStringLiteral("TRI"), "DOMBASE=$1000");
    if (QTest::currentTestFailed()) return;
    QTRY_COMPARE_WITH_TIMEOUT(f.caption(), QStringLiteral("Стакан не читается (проверьте DOMBASE)"), 5000);
    const std::string tri = readFile(f.quik.file("quik.tri"));
    f.ladder()->setFocus();
    f.key(Qt::Key_F1);
    f.key(Qt::Key_F2);
    f.leftClick(bestAskRow(f.rows()), LadderGrid::BuyQuantity);
    QTest::qWait(300);
    QCOMPARE(readFile(f.quik.file("quik.tri")), tri);
    QCOMPARE(f.caption(), QStringLiteral("Стакан не читается (проверьте DOMBASE): заявка не отправлена"));
    const std::string log = f.log();
    QVERIFY2(log.find("order book not read for 10 ticks") != std::string::npos, log.c_str());
    QVERIFY(log.find("refused acMarketSell: order book not read") != std::string::npos);
    QVERIFY(f.timer()->isActive());
    QVERIFY(f.messages.shown.empty());

    // "Найти адрес": the scan's best candidate taken from the list, written into the ini; the
    // ladder comes up without a restart.
    auto* find = f.child<QPushButton>("btnFindDomBase");
    QTRY_VERIFY(find->isVisible());
    QString offered;
    QStringList buttons;
    QTimer picker;
    QObject::connect(&picker, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget())) {
            picker.stop();
            offered = dialog->textValue();
            for (const QPushButton* button : dialog->findChildren<QPushButton*>()) buttons << button->text();
            dialog->accept();
        }
    });
    picker.start(50);
    QTest::mouseClick(find, Qt::LeftButton);
    // The best candidate first, marked as in the program's image or the heap, its tickers as the
    // terminal writes them.
    const QString base = QStringLiteral("%1").arg(f.terminal->domBase(), 8, 16, QLatin1Char('0')).toUpper();
    QVERIFY2(offered.startsWith(QStringLiteral("$%1  образ  ").arg(base)) ||
                 offered.startsWith(QStringLiteral("$%1  куча  ").arg(base)),
             qPrintable(offered));
    QVERIFY2(offered.contains(QStringLiteral("SiZ6")), qPrintable(offered));
    QVERIFY2(buttons.contains(QStringLiteral("Отмена")), qPrintable(buttons.join(QLatin1Char(','))));
    QVERIFY(readFile(f.app.file("Velmora.ini")).find("DOMBASE=$") != std::string::npos);
    QTRY_COMPARE_WITH_TIMEOUT(f.caption(), QString(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(f.ladderMismatch("SiZ6", 0), QString(), 5000);
    QVERIFY(!find->isVisible());
    QVERIFY(f.timer()->isActive());
}

QTEST_MAIN(WindowEndToEndTest)
#include "test_window_end_to_end.moc"
