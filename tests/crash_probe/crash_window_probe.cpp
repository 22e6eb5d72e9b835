// A real window whose button's slot fails once the event loop runs it:
//   crash_window_probe FOLDER slot-null-write | slot-throw
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "platform/crash_reporter.h"

namespace {

int* volatile nowhere = nullptr;

// The sanitizers would stop at the bad write or division themselves; the point is to fault.
[[gnu::noinline, gnu::no_sanitize("undefined")]] void writeThroughNull() { *nowhere = 42; }

[[gnu::noinline]] void throwFromSlot() { throw std::runtime_error("stop price is not a number"); }

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fputs("usage: crash_window_probe FOLDER MODE\n", stderr);
        return 2;
    }
    const std::string folder = argv[1];
    const std::string mode = argv[2];
    velmora::installCrashReporter({folder, VELMORA_VERSION});

    QApplication application(argc, argv);
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* button = new QPushButton(QStringLiteral("Купить"), &window);
    layout->addWidget(button);
    QObject::connect(button, &QPushButton::clicked, &window, [&mode] {
        if (mode == "slot-null-write") writeThroughNull();
        if (mode == "slot-throw") throwFromSlot();
    });
    window.show();
    QTimer::singleShot(50, button, &QPushButton::click);
    QTimer::singleShot(5000, &application, [] { QApplication::exit(3); });
    int exitCode = application.exec();
    std::fprintf(stderr, "the event loop ended with %d\n", exitCode);
    return exitCode;
}
