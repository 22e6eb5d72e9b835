#include <cstdlib>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "app/ladder_view.h"
#include "app/session_end.h"
#include "app/tool_images.h"
#include "settings/ini_file.h"
#include "support/app_fixture.h"

using namespace velmora;
using namespace velmora::testing;

namespace {

enum class Position { Saved, None };

// A program folder with a settings file; the terminal's folder is the same one.
void writeSettings(WindowFixture& f, Position position = Position::Saved) {
    writeFile(f.folder.file("Velmora.ini"),
              "[COMMON]\r\nQuikPath=" + f.folder.path() + "\r\nOutputWay=TRI\r\nLogLevel=1\r\n" +
                  (position == Position::None
                       ? std::string()
                       : "[POSITION]\r\nLeft=10\r\nTop=20\r\nHeight=640\r\nFullWidth=420\r\nShortWidth=255\r\n"
                         "DOMPanelWidth=250\r\nDOMCol1Width=40\r\nDOMRowHeight=15\r\nDOMRowCount=21\r\n"
                         "DOMFontSize=8\r\n"));
    writeFile(f.folder.file("sec.dat"), "");
}

QTimer* refreshTimer(WindowFixture& f) { return f.window->findChild<QTimer*>("tmrRefreshDOM"); }

}  // namespace

class WindowStartupTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void startUpRunsOnceFromTheEventLoopAndClosingStopsTheTimer();
    void waitingForTheTerminalKeepsTheWindowResponsive();
    void aSignalToEndClosesTheProgramAsTheWindowsCloseDoes();
    void aFirstStartWithoutSavedPositionReportsNoFault();
};

void WindowStartupTest::startUpRunsOnceFromTheEventLoopAndClosingStopsTheTimer() {
    auto f = std::make_unique<WindowFixture>();
    writeSettings(*f);
    f->processAccess.processes = {{4242, "info.exe"}};
    f->window = std::make_unique<TfrmMain>(f->session, TfrmMain::StartUp::Deferred);
    f->window->show();
    // Nothing happens at creation: the design-time layout is shown first, with the program's icon.
    QCOMPARE(f->window->width(), 500);
    QVERIFY(!f->window->windowIcon().isNull());
    QCOMPARE(f->window->windowIcon().pixmap(16).toImage(), programIcon().pixmap(16).toImage());
    QVERIFY(!refreshTimer(*f)->isActive());

    QTest::qWait(50);
    QCOMPARE(f->window->frameGeometry().width(), 420);
    auto* grid = f->child<LadderView>("sgDOM");
    QCOMPARE(grid->model()->rowCount(), 21);
    QCOMPARE(grid->model()->index(0, 2).data().toString(), QStringLiteral("цена"));
    QVERIFY(refreshTimer(*f)->isActive());

    // Ticks run, and the layout the user changes afterwards stays.
    f->window->resize(300, f->window->height());
    QTest::qWait(250);
    QVERIFY(f->session.cycle() >= 1);
    QCOMPARE(f->window->width(), 300);

    f->window->close();
    QVERIFY(f->session.closing());
    QTRY_VERIFY(!refreshTimer(*f)->isActive());

    const std::string logPath = f->session.log().LogPath;
    f->window.reset();
    QVERIFY(readFile(logPath).find("Closing Velmora...") != std::string::npos);
}

void WindowStartupTest::aSignalToEndClosesTheProgramAsTheWindowsCloseDoes() {
    for (int number : {SIGTERM, SIGINT, SIGHUP}) {
        auto f = std::make_unique<WindowFixture>();
        writeSettings(*f);
        const std::string ini = f->folder.file("Velmora.ini");
        WriteProfileString(ini, "COMMON", "BookSource", "SCRIPT");
        WriteProfileString(ini, "COMMON", "OutputWay", "DLL");
        WriteProfileString(ini, "SCRIPT", "Instruments", "SPBFUT:SiZ6");
        f->window = std::make_unique<TfrmMain>(f->session, TfrmMain::StartUp::Deferred);
        closeOnSessionEnd(*f->window);
        f->window->show();
        const std::string request = std::string(std::getenv("VELMORA_LINK_FOLDER")) + "velmora-1.txt";
        QTRY_VERIFY(std::filesystem::exists(request));
        QVERIFY(f->session.libraryConnected());

        ::kill(::getpid(), number);
        QTRY_VERIFY(!f->window->isVisible());
        QVERIFY(f->session.closing());
        const std::string logPath = f->session.log().LogPath;
        f->window.reset();
        QVERIFY(readFile(logPath).find("Closing Velmora...") != std::string::npos);
        QVERIFY(!std::filesystem::exists(request));
        QCOMPARE(f->transLibrary.disconnects, 1);
    }
}

void WindowStartupTest::waitingForTheTerminalKeepsTheWindowResponsive() {
    WindowFixture f;
    writeSettings(f);
    f.window = std::make_unique<TfrmMain>(f.session, TfrmMain::StartUp::Deferred);
    f.window->show();
    bool panelShown = false;
    // Runs inside the wait for the terminal: window events still arrive.
    QTimer::singleShot(300, [&] {
        auto* panel = f.child<QLabel>("pnlInfo");
        panelShown = panel->isVisible() && panel->text() == QStringLiteral("Запустите QUIK...");
        f.window->close();
    });
    QTest::qWait(50);
    QVERIFY(panelShown);
    QVERIFY(f.session.closing());
    QVERIFY(!refreshTimer(f)->isActive());
    // The start-up ended without applying the saved layout.
    QCOMPARE(f.window->width(), 500);
}

void WindowStartupTest::aFirstStartWithoutSavedPositionReportsNoFault() {
    WindowFixture f;
    writeSettings(f, Position::None);
    f.processAccess.processes = {{4242, "info.exe"}};
    f.window = std::make_unique<TfrmMain>(f.session, TfrmMain::StartUp::Deferred);
    f.window->show();
    QTRY_VERIFY(refreshTimer(f)->isActive());
    QCOMPARE(f.window->frameGeometry().height(), 750);
    QCOMPARE(f.child<LadderView>("sgDOM")->model()->rowCount(), 41);
    const std::string log = readFile(f.session.log().LogPath);
    QVERIFY2(log.find("[POSITION]") == std::string::npos, log.c_str());
}

QTEST_MAIN(WindowStartupTest)
#include "test_window_startup.moc"
