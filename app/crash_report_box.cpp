#include "app/crash_report_box.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include "core/crash_report_notice.h"
#include "platform/clock.h"
#include "settings/log.h"

namespace velmora {

void openFolderInFileManager(const QString& folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); }

void announceCrashReport(const PendingCrashReport& report, const std::string& folder, Log& log,
                         const LocaleFormats& locale, QWidget* parent, const FolderOpener& openFolder) {
    log.LogMessage("Crash report of an earlier run: " + report.path, 1);
    markCrashReportShown(folder, report);

    QMessageBox box(parent);
    box.setWindowTitle(QStringLiteral("Быстрые заявки QUIK"));
    box.setIcon(QMessageBox::Warning);
    box.setText(QStringLiteral("Программа аварийно завершилась %1. Отчёт сохранён: %2")
                    .arg(QString::fromStdString(locale.formatDateTime(report.crashTime)),
                         QString::fromStdString(report.path)));
    QPushButton* openButton = box.addButton(QStringLiteral("Открыть папку"), QMessageBox::ActionRole);
    openButton->setObjectName(QStringLiteral("openReportFolder"));
    box.addButton(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
    if (box.clickedButton() == openButton) openFolder(QString::fromStdString(folder));
}

}  // namespace velmora
