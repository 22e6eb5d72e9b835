#include <QApplication>

#include "app/crash_report_box.h"
#include "app/message_box_sink.h"
#include "app/session_end.h"
#include "app/tfrm_main.h"
#include "core/crash_report_notice.h"
#include "core/session.h"
#include "platform/clock.h"
#include "platform/crash_reporter.h"
#include "platform/process_access.h"
#include "platform/program_location.h"
#include "platform/trans_library.h"

int main(int argc, char* argv[]) {
    // First, so that a crash anywhere after this, on any thread, leaves a report beside the log.
    const std::string programFolder = velmora::executableFolder();
    velmora::installCrashReporter({programFolder, VELMORA_VERSION});
    const auto pendingCrashReport = velmora::takePendingCrashReport(programFolder);

    QApplication application(argc, argv);

    auto processes = velmora::makeSystemProcessAccess();
    auto clock = velmora::makeSystemClock();
    auto locale = velmora::makeSystemLocaleFormats();
    velmora::MessageBoxSink messages;
    auto transLibrary = velmora::loadTransLibrary(velmora::executableFolder());

    velmora::Session session(velmora::Platform{*processes, *clock, *locale, messages, *transLibrary});
    int exitCode = 0;
    {
        velmora::TfrmMain window(session);
        velmora::closeOnSessionEnd(window);
        if (pendingCrashReport)
            QObject::connect(&window, &velmora::TfrmMain::startUpFinished, &window, [&] {
                velmora::announceCrashReport(*pendingCrashReport, programFolder, session.log(), *locale, &window,
                                             velmora::openFolderInFileManager);
            });
        window.show();
        exitCode = application.exec();
    }
    return exitCode;
}
