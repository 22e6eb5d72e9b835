#include <QApplication>

#include "app/message_box_sink.h"
#include "app/tfrm_main.h"
#include "core/program.h"
#include "platform/clock.h"
#include "platform/process_access.h"
#include "platform/program_location.h"
#include "platform/trans_library.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);

    auto processes = velmora::makeSystemProcessAccess();
    auto clock = velmora::makeSystemClock();
    auto locale = velmora::makeSystemLocaleFormats();
    velmora::MessageBoxSink messages;
    auto transLibrary = velmora::loadTransLibrary(velmora::executableFolder());

    velmora::Program program(velmora::Platform{*processes, *clock, *locale, messages, *transLibrary});
    int exitCode = 0;
    {
        velmora::TfrmMain window(program);
        window.show();
        exitCode = application.exec();
    }
    return exitCode;
}
