#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QWidget>
#include <cerrno>
#include <csignal>

#include "app/session_end.h"
#include "app/tfrm_main.h"

namespace velmora {

namespace {

// A signal handler may do next to nothing: it writes a byte that the event loop then reads.
int signalPipe[2] = {-1, -1};

extern "C" void onEndSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

void closeOnSessionEnd(TfrmMain& window) {
    if (signalPipe[0] < 0) {
        if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
        struct sigaction action{};
        action.sa_handler = onEndSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int number : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(number, &action, nullptr);
    }
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char bytes[64];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        window.close();
    });
}

}  // namespace velmora
