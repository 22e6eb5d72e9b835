#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "app/crash_report_box.h"
#include "core/crash_report_notice.h"
#include "support/app_fixture.h"

using namespace velmora;
using namespace velmora::testing;

class CrashReportBoxTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void newReportIsAnnouncedOnceWithItsFolder();
};

void CrashReportBoxTest::newReportIsAnnouncedOnceWithItsFolder() {
    WindowFixture f;
    f.session.log().LogThreshold = 1;
    QVERIFY(!takePendingCrashReport(f.folder.path()));  // the previous start
    const std::string reportPath = f.folder.file("Velmora-crash-20261208-093000.txt");
    writeFile(reportPath, "Velmora crash report\r\nVersion: 1.0.0\r\nTime: 2026-12-08 09:41:17 (UTC+03:00)\r\n");
    std::filesystem::last_write_time(
        reportPath, std::filesystem::last_write_time(f.folder.file(CrashNoticeMarkerName)) + std::chrono::seconds(1));

    auto report = takePendingCrashReport(f.folder.path());
    QVERIFY(report.has_value());
    QString boxText;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        boxText = box->text();
        auto* open = box->findChild<QPushButton*>(QStringLiteral("openReportFolder"));
        QVERIFY(open);
        QCOMPARE(open->text(), QStringLiteral("Открыть папку"));
        QTest::mouseClick(open, Qt::LeftButton);
    });
    QString openedFolder;
    announceCrashReport(*report, f.folder.path(), f.session.log(), f.locale, f.window.get(),
                        [&](const QString& folder) { openedFolder = folder; });

    QCOMPARE(boxText, QStringLiteral("Программа аварийно завершилась 08.12.2026 09:41:17. Отчёт сохранён: ") +
                          QString::fromStdString(reportPath));
    QCOMPARE(openedFolder, QString::fromStdString(f.folder.path()));
    QVERIFY(readFile(f.folder.file("Velmora.log")).find("Crash report of an earlier run: " + reportPath) !=
            std::string::npos);
    QVERIFY(!takePendingCrashReport(f.folder.path()));
}

QTEST_MAIN(CrashReportBoxTest)
#include "test_crash_report_box.moc"
