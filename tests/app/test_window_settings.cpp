#include <QApplication>
#include <QComboBox>
#include <QFontDialog>
#include <QTimer>
#include <filesystem>
#include <QLabel>
#include <QSpinBox>
#include <QSplitter>
#include <QHeaderView>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QGuiApplication>
#include <QScreen>
#include <QToolButton>

#include "app/hotkey_edit.h"
#include "app/ladder_view.h"
#include "settings/alarms.h"
#include "settings/ini_file.h"
#include "settings/settings.h"
#include "support/app_fixture.h"

using namespace velmora;
using namespace velmora::testing;

class WindowSettingsTest : public QObject {
    Q_OBJECT
private slots:
    void applyCollectAndSaveRoundTrip();
    void switchingViewTwiceReturnsAndSavesOnlyTheWidthInUse();
    void stayOnTopFollowsTheSettingAndEachClickToggles();
    void failedSaveIsReportedAndTheProgramGoesOn();
    void shiftEditorsStoreEveryChange();
    void fontDialogStartsFromItsLastChoiceNotTheLadderFont();
    void zeroLayoutValuesAreHandedOverWithoutHarm();
    void maxOrderQuantityBoundsTheQuantityAndSurvivesSaveAndRestart();
    void aSaveBeforeStartUpAppliedTheSettingsWritesNothing();
    void aWindowOnNoScreenOrWithoutSizeComesBackToOne();
    void theInfoPanelGrowsToHoldItsText();
    void aLongTerminalTextTakesThreeLinesWithTheRestInTheTooltip();
    void thePositionLineShowsWhollyAndGreysWithTheLadder();
    void wideTextsLeaveEveryColumnInSight();
    void aSaveRestoresTheWindowItShows();
};

void WindowSettingsTest::applyCollectAndSaveRoundTrip() {
    WindowFixture f;
    QVERIFY(f.showActive());
    Settings edited;
    setDesignSettings(edited);
    edited.Left = 30;
    edited.Top = 40;
    edited.Height = 600;
    edited.FullWidth = 480;
    edited.DOMPanelWidth = 230;
    edited.DOMCol1Width = 31;
    edited.DOMCol2Width = 32;
    edited.DOMCol3Width = 33;
    edited.DOMCol4Width = 34;
    edited.DOMCol5Width = 35;
    edited.DOMCol6Width = 36;
    edited.DOMRowHeight = 17;
    edited.DOMRowCount = 31;
    edited.DOMFontSize = 10;
    edited.DomFontName = "DejaVu Sans Mono";
    edited.DefaultContract = "SiZ6";
    edited.DefaultContractCnt = 5;
    edited.DefaultLimitOrderShift = 2;
    edited.DefaultLimitStopShift = 3;
    edited.MARKETBUY = 0x2000 | 0x70;       // Shift+F1
    edited.MARKETSELL = 0x4000 | 0xBA;      // Ctrl+;
    edited.MARKETPLUSBUY = 0x8000 | 0x65;   // Alt+Num 5
    edited.MARKETPLUSSELL = 0x4000 | 0xFF;  // a key outside the table: kept as it is
    edited.CLEARALL = 116;
    edited.CLEARALLSTOPS = 0;
    f.session.applySettings(edited);
    const Settings& s = f.session.settings();
    f.window->setInstrumentItems({{"RIZ6", 0}, {"SiZ6", 1}}, -1);
    f.window->ApplySettingsToWindow();

    auto* grid = f.child<LadderView>("sgDOM");
    // The outer window, frame included, as on Windows.
    QVERIFY(f.window->frameGeometry().height() > f.window->height());
    QCOMPARE(f.window->frameGeometry(), QRect(30, 40, 480, 600));
    QCOMPARE(f.child<QWidget>("pnlDOM")->width(), 230);
    QCOMPARE(grid->columnWidth(5), 36);
    QCOMPARE(grid->model()->rowCount(), 31);
    QCOMPARE(grid->rowHeight(30), 17);
    QCOMPARE(grid->font().pointSize(), 10);
    QCOMPARE(f.child<QComboBox>("cbSecName")->currentText(), QStringLiteral("SiZ6"));
    QCOMPARE(f.window->contractCount(), 5);
    QCOMPARE(f.window->limitStopShift(), 3);
    QCOMPARE(f.child<THotKey>("hkMarketPlusSell")->code(), 0x40FF);

    const Settings applied = s;
    Settings cleared;
    cleared.FullWidth = 480;
    cleared.DefaultFullView = true;
    f.session.applySettings(cleared);
    f.window->CollectWindowSettings();
    QCOMPARE(s.Left, 30);
    QCOMPARE(s.Top, 40);
    QCOMPARE(s.Height, 600);
    QCOMPARE(s.FullWidth, 480);
    QCOMPARE(s.DOMPanelWidth, 230);
    QCOMPARE(s.DOMCol1Width, 31);
    QCOMPARE(s.DOMCol6Width, 36);
    QCOMPARE(s.DOMRowHeight, 17);
    QCOMPARE(s.DOMRowCount, 31);
    QCOMPARE(s.DOMFontSize, 10);
    QCOMPARE(s.DomFontName, applied.DomFontName);
    QCOMPARE(s.DefaultContract, std::string("SiZ6"));
    QCOMPARE(s.DefaultContractCnt, 5);
    QCOMPARE(s.DefaultStayOnTop, false);
    QCOMPARE(s.MARKETBUY, applied.MARKETBUY);
    QCOMPARE(s.MARKETSELL, applied.MARKETSELL);
    QCOMPARE(s.MARKETPLUSBUY, applied.MARKETPLUSBUY);
    QCOMPARE(s.MARKETPLUSSELL, applied.MARKETPLUSSELL);
    QCOMPARE(s.CLEARALL, 116);
    QCOMPARE(s.CLEARALLSTOPS, 0);

    // The corner command, then Ctrl+S through the window writes the file.
    f.child<QToolButton>("tbTopLeft")->click();
    QTest::keyClick(grid, Qt::Key_S, Qt::ControlModifier);
    QVERIFY(f.sink.shown.empty());
    Settings loaded;
    TAlarms alarms;
    LoadConf(f.session.settingsPath(), loaded, alarms);
    QCOMPARE(loaded.Left, 0);
    QCOMPARE(loaded.Top, 0);
    QCOMPARE(loaded.Height, 600);
    QCOMPARE(loaded.DOMCol3Width, 33);
    QCOMPARE(loaded.DomFontName, applied.DomFontName);
    QCOMPARE(loaded.MARKETPLUSSELL, applied.MARKETPLUSSELL);
    QCOMPARE(loaded.MARKETPLUSBUY, applied.MARKETPLUSBUY);
}

void WindowSettingsTest::switchingViewTwiceReturnsAndSavesOnlyTheWidthInUse() {
    WindowFixture f;
    QVERIFY(f.showActive());
    f.design();
    const Settings& s = f.session.settings();
    f.window->ApplySettingsToWindow();
    auto* panel = f.child<QWidget>("pnlDOM");
    auto* switchView = f.child<QToolButton>("tbSwitchView");
    QCOMPARE(f.window->frameGeometry().width(), 500);
    QCOMPARE(panel->width(), 250);

    switchView->click();
    QCOMPARE(f.window->frameGeometry().width(), 255);
    // The frame leaves the short view less than the panel; it gets its width back below.
    QVERIFY(panel->width() <= 250);
    QCOMPARE(s.DefaultFullView, false);
    switchView->click();
    QCOMPARE(f.window->frameGeometry().width(), 500);
    QCOMPARE(panel->width(), 250);
    QCOMPARE(s.DefaultFullView, true);

    switchView->click();
    f.window->resize(270, f.window->height());
    f.window->CollectWindowSettings();
    QCOMPARE(s.ShortWidth, f.window->frameGeometry().width());
    QVERIFY(s.ShortWidth > 270);
    QCOMPARE(s.FullWidth, 500);
    QCOMPARE(s.DefaultFullView, false);
}

void WindowSettingsTest::stayOnTopFollowsTheSettingAndEachClickToggles() {
    WindowFixture f;
    QVERIFY(f.showActive());
    f.design();
    f.set(&Settings::DefaultStayOnTop, true);
    f.window->ApplySettingsToWindow();
    auto* button = f.child<QToolButton>("tbtnStayOnTop");
    QVERIFY(f.window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(button->isChecked());
    QVERIFY(f.window->isVisible());

    button->click();
    QVERIFY(!f.window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!button->isChecked());
    QVERIFY(f.window->isVisible());
    f.window->CollectWindowSettings();
    QCOMPARE(f.session.settings().DefaultStayOnTop, false);

    button->click();
    QVERIFY(f.window->isTopmost());
    QVERIFY(button->isChecked());
    QVERIFY(f.window->isVisible());
}

void WindowSettingsTest::failedSaveIsReportedAndTheProgramGoesOn() {
    WindowFixture f;
    f.design();
    f.window->ApplySettingsToWindow();
    std::filesystem::create_directory(f.session.settingsPath());  // where the file should be
    f.window->findChild<QAction*>("acSaveCurrentSettings")->trigger();
    QCOMPARE(f.sink.shown.size(), std::size_t(1));
    QVERIFY(!f.sink.shown[0].empty());
    // Still usable: a save to a good path works afterwards.
    std::filesystem::remove(f.session.settingsPath());
    f.window->findChild<QAction*>("acSaveCurrentSettings")->trigger();
    QCOMPARE(f.sink.shown.size(), std::size_t(1));
    QVERIFY(std::filesystem::exists(f.session.settingsPath()));
}

void WindowSettingsTest::shiftEditorsStoreEveryChange() {
    WindowFixture f;
    auto* orderShift = f.child<QSpinBox>("seDefaultLimitOrderShift");
    auto* stopShift = f.child<QSpinBox>("seDefaultLimitStopShift");
    orderShift->setValue(7);
    stopShift->setValue(9);
    QCOMPARE(f.session.settings().DefaultLimitOrderShift, 7);
    QCOMPARE(f.session.settings().DefaultLimitStopShift, 9);
    // The settings' own fields are written only by the editors, not by collecting.
    f.set(&Settings::DefaultLimitOrderShift, 4);
    f.window->CollectWindowSettings();
    QCOMPARE(f.session.settings().DefaultLimitOrderShift, 4);
}

void WindowSettingsTest::fontDialogStartsFromItsLastChoiceNotTheLadderFont() {
    WindowFixture f;
    QVERIFY(f.showActive());
    f.design();
    f.window->ApplySettingsToWindow();
    auto* grid = f.child<LadderView>("sgDOM");
    QFont offered;
    QFont chosen(QStringLiteral("DejaVu Sans"), 11);
    chosen.setItalic(true);
    // Answers the modal dialog the action opens.
    auto answer = [&](bool accept) {
        QTimer::singleShot(0, [&, accept] {
            auto* dialog = qobject_cast<QFontDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            offered = dialog->currentFont();
            dialog->setCurrentFont(chosen);
            accept ? dialog->accept() : dialog->reject();
        });
        f.window->findChild<QAction*>("acFontEdit")->trigger();
    };
    answer(true);
    // The family shown is whatever the platform substitutes for MS Sans Serif.
    QCOMPARE(offered.pointSize(), 8);
    const QFont accepted = grid->font();
    QCOMPARE(accepted.pointSize(), 11);
    QVERIFY(accepted.italic());

    f.set(&Settings::DomFontName, "Courier New");
    f.set(&Settings::DOMFontSize, 9);
    f.window->ApplySettingsToWindow();
    chosen = QFont(QStringLiteral("DejaVu Serif"), 12);
    answer(false);
    QCOMPARE(offered.family(), accepted.family());
    QCOMPARE(offered.pointSize(), 11);
    QCOMPARE(grid->font().family(), QStringLiteral("Courier New"));
    f.window->CollectWindowSettings();
    QCOMPARE(f.session.settings().DOMFontSize, 9);
}

void WindowSettingsTest::zeroLayoutValuesAreHandedOverWithoutHarm() {
    WindowFixture f;
    QVERIFY(f.showActive());
    f.session.applySettings(Settings{});
    f.window->ApplySettingsToWindow();
    f.window->WriteLadderHeader();
    QCOMPARE(f.child<LadderView>("sgDOM")->model()->rowCount(), 0);
    f.child<QToolButton>("tbSwitchView")->click();
    f.window->CollectWindowSettings();
    QCOMPARE(f.session.settings().DOMRowCount, 0);
    QCOMPARE(f.session.settings().DOMCol1Width, 0);
    QVERIFY(f.sink.shown.empty());
}

void WindowSettingsTest::maxOrderQuantityBoundsTheQuantityAndSurvivesSaveAndRestart() {
    WindowFixture f;
    QVERIFY(f.showActive());
    f.design();
    f.set(&Settings::DefaultContractCnt, 50);
    f.window->ApplySettingsToWindow();
    auto* quantity = f.child<QSpinBox>("seContractCnt");
    auto* limit = f.child<QSpinBox>("seMaxOrderQuantity");
    QCOMPARE(limit->value(), 0);
    QCOMPARE(f.window->contractCount(), 50);

    f.child<QTabWidget>("pc")->setCurrentWidget(f.child<QWidget>("tsSettings"));
    limit->setFocus();
    QTest::keyClick(limit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(limit, QStringLiteral("20"));
    QCOMPARE(f.session.settings().MaxOrderQuantity, 20);
    QTest::keyClick(limit, Qt::Key_Return);
    QCOMPARE(f.window->contractCount(), 20);
    quantity->setValue(30);
    QCOMPARE(f.window->contractCount(), 20);
    QTest::keyClick(limit, Qt::Key_S, Qt::ControlModifier);
    QVERIFY(f.sink.shown.empty());

    // The next start reads it back from the file.
    WindowFixture next;
    writeFile(next.session.settingsPath(), readFile(f.session.settingsPath()));
    TAlarms alarms;
    Settings loaded;
    LoadConf(next.session.settingsPath(), loaded, alarms);
    next.session.applySettings(loaded);
    QCOMPARE(next.session.settings().MaxOrderQuantity, 20);
    next.window->ApplySettingsToWindow();
    QCOMPARE(next.child<QSpinBox>("seMaxOrderQuantity")->value(), 20);
    QCOMPARE(next.child<QSpinBox>("seContractCnt")->maximum(), 20);
}


void WindowSettingsTest::aWindowOnNoScreenOrWithoutSizeComesBackToOne() {
    WindowFixture f;
    QVERIFY(f.showActive());
    f.set(&Settings::Left, -20000);
    f.set(&Settings::Top, 15000);
    f.set(&Settings::Height, 0);
    f.window->ApplySettingsToWindow();
    const QRect shown = f.window->frameGeometry();
    QVERIFY2(QGuiApplication::primaryScreen()->availableGeometry().intersects(shown),
             qPrintable(QStringLiteral("%1,%2").arg(shown.x()).arg(shown.y())));
    QCOMPARE(f.session.settings().Height, 750);
    QCOMPARE(f.session.settings().Left, QGuiApplication::primaryScreen()->availableGeometry().x() + 100);
}

void WindowSettingsTest::theInfoPanelGrowsToHoldItsText() {
    WindowFixture f;
    QVERIFY(f.showActive());
    auto* panel = f.child<QLabel>("pnlInfo");
    const int designed = panel->height();
    f.window->setInfoCaption("Заявки не отправляются: OutputWay не TRI, не DLL и не SCRIPT\nDefaultContractCnt=50 больше "
                             "MaxOrderQuantity=10: взято 10\nОдна клавиша у двух действий: MARKETBUY и CLEARALL");
    QVERIFY2(panel->height() >= panel->heightForWidth(panel->width()),
             qPrintable(QStringLiteral("%1 < %2").arg(panel->height()).arg(panel->heightForWidth(panel->width()))));
    f.window->setInfoCaption("Запустите QUIK...");
    QCOMPARE(panel->height(), designed);
}

void WindowSettingsTest::aLongTerminalTextTakesThreeLinesWithTheRestInTheTooltip() {
    WindowFixture f;
    QVERIFY(f.showActive());
    f.design();
    f.window->ApplySettingsToWindow();
    auto* panel = f.child<QLabel>("pnlInfo");
    std::string text = "Заявка 7 отвергнута терминалом:";
    while (text.size() < 900) text += " причина " + std::to_string(text.size());
    f.window->setInfoCaption(text);
    const QFontMetrics metrics(panel->font());
    QVERIFY2(panel->height() < 4 * metrics.lineSpacing(), qPrintable(QString::number(panel->height())));
    QVERIFY(panel->text().endsWith(QChar(0x2026)));
    QCOMPARE(panel->toolTip().toStdString(), text);
    QCOMPARE(f.window->infoCaption(), text);
    // A text that fits has no tooltip to repeat it.
    f.window->setInfoCaption("Настройки сохранены");
    QCOMPARE(panel->text(), QStringLiteral("Настройки сохранены"));
    QVERIFY(panel->toolTip().isEmpty());
}

void WindowSettingsTest::thePositionLineShowsWhollyAndGreysWithTheLadder() {
    WindowFixture f;
    QVERIFY(f.showActive());
    f.design();
    f.window->ApplySettingsToWindow();
    auto* line = f.child<QLabel>("lblPosition");
    f.window->reservePositionLine(true);
    QApplication::processEvents();
    auto* ladder = f.child<QAbstractItemView>("sgDOM");
    const int ladderTop = ladder->mapTo(f.window.get(), QPoint(0, 0)).y();
    const QString text = QStringLiteral("Позиция: -120 по 95130, вар. маржа -12345,50, прибыль -1560 пт");
    f.window->setPositionText({text.toStdString(), "-1200 акций, в лоте 10"});
    f.window->setLadderLive(true);
    QApplication::processEvents();
    const QFontMetrics metrics(line->font());
    QVERIFY(metrics.horizontalAdvance(text) > line->contentsRect().width());
    // Too long for the ladder's width: it takes a second line rather than losing the profit.
    QVERIFY2(line->contentsRect().height() >= 2 * metrics.lineSpacing(), qPrintable(QString::number(line->height())));
    QCOMPARE(line->toolTip(), QStringLiteral("-1200 акций, в лоте 10"));
    // The line's room was kept: the first position moved no row of the ladder.
    QCOMPARE(ladder->mapTo(f.window.get(), QPoint(0, 0)).y(), ladderTop);
    f.window->setLadderLive(false);
    QVERIFY(!line->isEnabled());
    f.window->setLadderLive(true);
    QVERIFY(line->isEnabled());
}

void WindowSettingsTest::wideTextsLeaveEveryColumnInSight() {
    WindowFixture f;
    QVERIFY(f.showActive());
    f.design();
    f.set(&Settings::DOMRowCount, 5);
    f.window->ApplySettingsToWindow();
    f.window->WriteLadderHeader();
    auto* grid = f.child<LadderView>("sgDOM");
    // SBER's prices and volumes: wider than the design's columns.
    f.session.setLadderHeader({"свой", "1234567", "301,26", "2345678", "свой", "стоп", "объём"});
    f.window->ladderChanged();
    QApplication::processEvents();
    const int stopEnd = grid->columnViewportPosition(LadderGrid::ColumnCount - 1) +
                        grid->columnWidth(LadderGrid::ColumnCount - 1);
    QVERIFY2(stopEnd <= grid->viewport()->width(),
             qPrintable(QStringLiteral("%1 > %2").arg(stopEnd).arg(grid->viewport()->width())));

    // "Заявки": the balance's heading and figures in sight at the window's first width.
    auto* orders = f.child<QTableWidget>("sgOrders");
    f.child<QTabWidget>("pc")->setCurrentWidget(f.child<QWidget>("tsOrders"));
    f.window->showOwnOrders({{1234567890123ULL, Side::Sell, 95130, 1000, 1000}});
    QApplication::processEvents();
    int balance = 0;
    while (orders->horizontalHeaderItem(balance)->text() != QStringLiteral("Остаток")) ++balance;
    const int balanceEnd = orders->columnViewportPosition(balance) + orders->columnWidth(balance);
    QVERIFY2(balanceEnd <= orders->viewport()->width(),
             qPrintable(QStringLiteral("%1 > %2").arg(balanceEnd).arg(orders->viewport()->width())));
    QVERIFY(orders->columnWidth(balance) >= orders->horizontalHeader()->sectionSizeHint(balance));
}

void WindowSettingsTest::aSaveRestoresTheWindowItShows() {
    // The saved geometry applied before the window has its frame, as start-up may do under a window
    // manager; once shown and saved it must give back the very same values, start after start.
    Settings saved;
    setDesignSettings(saved);
    saved.Left = 60;
    saved.Top = 70;
    saved.Height = 600;
    saved.FullWidth = 480;
    for (int start = 0; start < 2; ++start) {
        WindowFixture f;
        f.session.applySettings(saved);
        f.window->ApplySettingsToWindow();
        QVERIFY(f.showActive());
        QTRY_COMPARE(f.window->frameGeometry(), QRect(60, 70, 480, 600));
        f.window->CollectWindowSettings();
        QCOMPARE(f.session.settings().Left, 60);
        QCOMPARE(f.session.settings().Top, 70);
        QCOMPARE(f.session.settings().Height, 600);
        QCOMPARE(f.session.settings().FullWidth, 480);
        saved = f.session.settings();
    }
}

void WindowSettingsTest::aSaveBeforeStartUpAppliedTheSettingsWritesNothing() {
    WindowFixture f;
    f.design();
    const std::string ini = "[HOTKEYS]\r\nMARKETBUY=112\r\n[POSITION]\r\nLeft=300\r\n";
    writeFile(f.session.settingsPath(), ini);
    auto* save = f.window->findChild<QAction*>("acSaveCurrentSettings");
    save->trigger();
    // The editors still hold their initial Alt+A and the corner 0,0: none of it reaches the file.
    QCOMPARE(readFile(f.session.settingsPath()), ini);
    QCOMPARE(f.window->infoCaption(), std::string("Настройки не сохранены: программа ещё не загрузила их"));

    f.window->ApplySettingsToWindow();
    save->trigger();
    QCOMPARE(f.window->infoCaption(), std::string("Настройки сохранены"));
    const IniFile saved = IniFile::load(f.session.settingsPath());
    QCOMPARE(saved.read("HOTKEYS", "MARKETBUY", "-"), std::to_string(f.session.settings().MARKETBUY));
}

QTEST_MAIN(WindowSettingsTest)
#include "test_window_settings.moc"
