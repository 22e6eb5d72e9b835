#include <QLineEdit>
#include <QSpinBox>
#include <QSignalSpy>
#include <QLabel>
#include <QTabWidget>
#include <QTest>
#include <filesystem>

#include "app/hotkey_codes.h"
#include "app/hotkey_edit.h"
#include "app/ladder_view.h"
#include "support/app_fixture.h"

using namespace velmora;
using namespace velmora::testing;

namespace {

QAction* action(WindowFixture& f, const char* name) { return f.window->findChild<QAction*>(QLatin1String(name)); }

}  // namespace

class HotkeyTest : public QObject {
    Q_OBJECT
private slots:
    void everyTableKeyRoundTripsWithEveryModifier();
    void keysOutsideTheTableAreKeptAsStored();
    void editorCapturesOneCombination();
    void hotkeysRunOnlyWhileTheMainTabIsShown();
    void firstActionInListOrderWinsASharedCombination();
    void aHeldKeyRunsItsActionOnce();
    void charactersTypedIntoAnEditorAreText();
    void keysOfACyrillicLayoutActAsTheirLatinKeys();
};

void HotkeyTest::everyTableKeyRoundTripsWithEveryModifier() {
    QVERIFY(hotkeyTableSize() >= 100);
    const std::uint16_t modifiers[] = {0, HotkeyShift, HotkeyCtrl, HotkeyAlt,
                                       HotkeyShift | HotkeyCtrl | HotkeyAlt};
    for (int i = 0; i < hotkeyTableSize(); ++i) {
        for (std::uint16_t modifier : modifiers) {
            const std::uint16_t code = hotkeyTableVirtualKey(i) | modifier;
            const auto combination = keyCombinationFromHotkey(code);
            QVERIFY2(combination.has_value(), qPrintable(hotkeyText(code)));
            QCOMPARE(hotkeyFromKeyCombination(*combination), code);
        }
    }
    // The codes the settings file documents.
    QCOMPARE(hotkeyFromKeyCombination(Qt::Key_F1), std::uint16_t(112));
    QCOMPARE(hotkeyFromKeyCombination(Qt::ALT | Qt::Key_F1), std::uint16_t(32880));
    QCOMPARE(hotkeyFromKeyCombination(Qt::CTRL | Qt::Key_S), std::uint16_t(16467));
    QCOMPARE(hotkeyFromKeyCombination(Qt::ALT | Qt::Key_A), THotKey::InitialCode);
    // Keypad and main-keyboard twins stay apart.
    QCOMPARE(hotkeyFromKeyCombination(Qt::KeypadModifier | Qt::Key_Minus), std::uint16_t(0x6D));
    QCOMPARE(hotkeyFromKeyCombination(Qt::Key_Minus), std::uint16_t(0xBD));
    QCOMPARE(hotkeyText(0x4000 | 0x2000 | 0x70), QStringLiteral("Shift+Ctrl+F1"));
}

void HotkeyTest::keysOutsideTheTableAreKeptAsStored() {
    QVERIFY(!keyCombinationFromHotkey(0x40FF).has_value());
    QVERIFY(!keyCombinationFromHotkey(0x0007).has_value());
    THotKey editor;
    QCOMPARE(editor.code(), THotKey::InitialCode);
    editor.setCode(0x40FF);
    QCOMPARE(editor.code(), std::uint16_t(0x40FF));
    QVERIFY(!editor.text().isEmpty());
}

void HotkeyTest::editorCapturesOneCombination() {
    WindowFixture f;
    QVERIFY(f.showActive());
    f.child<QTabWidget>("pc")->setCurrentWidget(f.child<QWidget>("tsSettings"));
    auto* editor = f.child<THotKey>("hkMarketSell");
    editor->setFocus();
    QTest::keyClick(editor, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(editor->code(), std::uint16_t(0x6053));
    QTest::keyClick(editor, Qt::Key_5, Qt::KeypadModifier);
    QCOMPARE(editor->code(), std::uint16_t(0x65));
    QCOMPARE(editor->text(), QStringLiteral("Num 5"));
    // A modifier alone is not a combination.
    QTest::keyClick(editor, Qt::Key_Shift, Qt::ShiftModifier);
    QCOMPARE(editor->code(), std::uint16_t(0x65));
}

void HotkeyTest::hotkeysRunOnlyWhileTheMainTabIsShown() {
    WindowFixture f;
    f.design();
    f.window->ApplySettingsToWindow();
    QVERIFY(f.showActive());
    QSignalSpy marketBuy(action(f, "acMarketBUY"), &QAction::triggered);
    QSignalSpy clearAll(action(f, "acClearAllOrders"), &QAction::triggered);
    auto* price = f.child<QLineEdit>("lePrice");
    price->setFocus();
    QTest::keyClick(price, Qt::Key_F1);
    QCOMPARE(marketBuy.count(), 1);
    QTest::keyClick(price, Qt::Key_F5);
    QCOMPARE(clearAll.count(), 1);
    QVERIFY(price->text().isEmpty());

    auto* pages = f.child<QTabWidget>("pc");
    pages->setCurrentWidget(f.child<QWidget>("tsSettings"));
    auto* editor = f.child<THotKey>("hkMarketBuy");
    editor->setFocus();
    editor->setCode(THotKey::InitialCode);
    QTest::keyClick(editor, Qt::Key_F1);
    QCOMPARE(editor->code(), std::uint16_t(112));
    // F2 is the market sell's: the panel says so as it is typed.
    QTest::keyClick(editor, Qt::Key_F2);
    QVERIFY2(f.child<QLabel>("pnlInfo")->text().startsWith(QStringLiteral("Одна клавиша у двух действий: ")),
             qPrintable(f.child<QLabel>("pnlInfo")->text()));
    QTest::keyClick(editor, Qt::Key_F3);
    QCOMPARE(editor->code(), std::uint16_t(114));
    QCOMPARE(marketBuy.count(), 1);
    QTest::keyClick(f.child<THotKey>("hkClearAllStopOrders"), Qt::Key_F5);
    QCOMPARE(clearAll.count(), 1);

    // The combination typed on the settings tab answers once the main tab is back.
    pages->setCurrentIndex(0);
    price->setFocus();
    QTest::keyClick(price, Qt::Key_F1);
    QCOMPARE(marketBuy.count(), 1);
    QTest::keyClick(price, Qt::Key_F3);
    QCOMPARE(marketBuy.count(), 2);
}

void HotkeyTest::firstActionInListOrderWinsASharedCombination() {
    {
        WindowFixture f;
        f.design();
        f.set(&Settings::MARKETBUY, 16467);
        f.window->ApplySettingsToWindow();
        QVERIFY(f.showActive());
        QSignalSpy marketBuy(action(f, "acMarketBUY"), &QAction::triggered);
        QSignalSpy save(action(f, "acSaveCurrentSettings"), &QAction::triggered);
        auto* grid = f.child<LadderView>("sgDOM");
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(save.count(), 1);
        QCOMPARE(marketBuy.count(), 0);
        QVERIFY(std::filesystem::exists(f.session.settingsPath()));
    }
    {
        WindowFixture f;
        f.design();
        f.set(&Settings::CLEARALL, 16467);
        f.window->ApplySettingsToWindow();
        QVERIFY(f.showActive());
        QSignalSpy clearAll(action(f, "acClearAllOrders"), &QAction::triggered);
        QSignalSpy save(action(f, "acSaveCurrentSettings"), &QAction::triggered);
        QTest::keyClick(f.window.get(), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(clearAll.count(), 1);
        QCOMPARE(save.count(), 0);
        QVERIFY(!std::filesystem::exists(f.session.settingsPath()));
    }
}

void HotkeyTest::aHeldKeyRunsItsActionOnce() {
    WindowFixture f;
    f.design();
    f.window->ApplySettingsToWindow();
    QVERIFY(f.showActive());
    QSignalSpy marketSell(action(f, "acMarketSell"), &QAction::triggered);
    auto* grid = f.child<LadderView>("sgDOM");
    QTest::keyPress(grid, Qt::Key_F2);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_F2, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(grid, &repeat);
    QApplication::sendEvent(grid, &repeat);
    QTest::keyRelease(grid, Qt::Key_F2);
    QCOMPARE(marketSell.count(), 1);
}

void HotkeyTest::charactersTypedIntoAnEditorAreText() {
    WindowFixture f;
    f.design();
    f.set(&Settings::MARKETBUY, '1');
    f.window->ApplySettingsToWindow();
    QVERIFY(f.showActive());
    QSignalSpy marketBuy(action(f, "acMarketBUY"), &QAction::triggered);
    QSignalSpy marketSell(action(f, "acMarketSell"), &QAction::triggered);
    auto* contracts = f.child<QSpinBox>("seContractCnt");
    contracts->setFocus();
    QTest::keyClick(contracts, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(contracts, QStringLiteral("15"));
    QCOMPARE(contracts->text(), QStringLiteral("15"));
    QCOMPARE(marketBuy.count(), 0);
    // A key without text is still a hotkey there, and the same digit is one on the ladder.
    QTest::keyClick(contracts, Qt::Key_F2);
    QCOMPARE(marketSell.count(), 1);
    QTest::keyClick(f.child<LadderView>("sgDOM"), Qt::Key_1);
    QCOMPARE(marketBuy.count(), 1);

    // "0" still being typed gives the editor's minimum, never a quantity of 0.
    contracts->setFocus();
    QTest::keyClick(contracts, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(contracts, QStringLiteral("0"));
    QCOMPARE(f.window->contractCount(), 1);
}

void HotkeyTest::keysOfACyrillicLayoutActAsTheirLatinKeys() {
    WindowFixture f;
    f.design();
    f.set(&Settings::MARKETBUY, 'B');
    f.set(&Settings::MARKETSELL, HotkeyShift | '3');
    f.window->ApplySettingsToWindow();
    QVERIFY(f.showActive());
    QSignalSpy save(action(f, "acSaveCurrentSettings"), &QAction::triggered);
    QSignalSpy marketBuy(action(f, "acMarketBUY"), &QAction::triggered);
    QSignalSpy marketSell(action(f, "acMarketSell"), &QAction::triggered);
    // What X11 reports with a Russian layout: the Cyrillic letter as the key (its upper-case
    // code point) and text, and the number of the physical key (S is 39, B 56, 3 12, ";" 47).
    auto press = [](QWidget* target, int key, Qt::KeyboardModifiers modifiers, quint32 scanCode, const char* text) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers, scanCode, 0, 0, QString::fromUtf8(text));
        QApplication::sendEvent(target, &event);
    };
    auto* grid = f.child<LadderView>("sgDOM");
    grid->setFocus();
    press(grid, 0x42B, Qt::ControlModifier, 39, "ы");
    QCOMPARE(save.count(), 1);
    press(grid, 0x418, Qt::NoModifier, 56, "и");
    QCOMPARE(marketBuy.count(), 1);
    press(grid, 0x2116, Qt::ShiftModifier, 12, "№");
    QCOMPARE(marketSell.count(), 1);
    QCOMPARE(marketBuy.count(), 1);

    f.child<QTabWidget>("pc")->setCurrentWidget(f.child<QWidget>("tsSettings"));
    auto* editor = f.child<THotKey>("hkClearAllOrders");
    editor->setFocus();
    press(editor, 0x416, Qt::ControlModifier, 47, "ж");
    QCOMPARE(editor->code(), std::uint16_t(HotkeyCtrl | 0xBA));
}

QTEST_MAIN(HotkeyTest)
#include "test_hotkeys.moc"
