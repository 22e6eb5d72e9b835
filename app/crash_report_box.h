#pragma once
#include <QString>
#include <functional>
#include <string>

class QWidget;

namespace velmora {

class Log;
class LocaleFormats;
struct PendingCrashReport;

using FolderOpener = std::function<void(const QString& folder)>;

// The system's file manager on the folder.
void openFolderInFileManager(const QString& folder);

// Tells the user, once, that an earlier run crashed and where its report is: logs the path at level 1,
// marks the report shown, then shows a box whose second button opens the report's folder.
void announceCrashReport(const PendingCrashReport& report, const std::string& folder, Log& log,
                         const LocaleFormats& locale, QWidget* parent, const FolderOpener& openFolder);

}  // namespace velmora
