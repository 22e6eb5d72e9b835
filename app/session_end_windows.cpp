#include <windows.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QPointer>

#include "app/session_end.h"
#include "app/tfrm_main.h"

namespace velmora {

namespace {

// Windows may end the process as soon as WM_ENDSESSION has been answered: the close runs then,
// not later from the event loop.
class SessionEndFilter : public QAbstractNativeEventFilter {
public:
    QPointer<TfrmMain> window;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "windows_generic_MSG" || !window) return false;
        const MSG* msg = static_cast<const MSG*>(message);
        if (msg->message == WM_ENDSESSION && msg->wParam) window->endSession();
        return false;
    }
};

}  // namespace

void closeOnSessionEnd(TfrmMain& window) {
    static SessionEndFilter filter;
    if (!filter.window) QCoreApplication::instance()->installNativeEventFilter(&filter);
    filter.window = &window;
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &window,
                     [&window] { window.endSession(); });
}

}  // namespace velmora
