// Time from a market hotkey's key press to its transaction line in quik.tri, through the real
// window: the press goes through the toolkit's key delivery (shortcut override, then the key
// event), the window's hotkey match, the order command and the synchronous append. An unbound
// key's delivery is timed alike, as the toolkit's own share.
//
//   hotkey_latency [presses] [log level]   (offscreen unless QT_QPA_PLATFORM says otherwise)
// At log level 2 and above every order text is also appended to the log.
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "app/tfrm_main.h"
#include "core/session.h"
#include "platform/clock.h"
#include "platform/message_sink.h"
#include "platform/trans_library.h"
#include "settings/ini_file.h"
#include "settings/settings.h"

namespace {

using namespace velmora::bench;

using namespace velmora;
using Stopwatch = std::chrono::steady_clock;


// SiZ6 with 20 bids and 20 asks around 92350, as velmora.lua sends them.
std::string scriptLines() {
    std::string bids, asks;
    for (int i = 19; i >= 0; --i) {
        bids += (bids.empty() ? "" : ",") + std::to_string(92330 + i) + ":" + std::to_string(10 + i);
        asks += (asks.empty() ? "" : ",") + std::to_string(92351 + i) + ":" + std::to_string(30 + i);
    }
    return "velmora-link\t1\tbench\nalive\t1\nsec\tSPBFUT\tSiZ6\t0\t1\t1\tSi-12.26\nbook\tSPBFUT\tSiZ6\t" + bids +
           "\t" + asks + "\n";
}

void applyDesignSettings(Settings& s, const std::string& quikPath) {
    s.QuikPath = quikPath;
    s.TRIFileName = quikPath + "quik.tri";
    s.SetOutputWay("TRI");
    s.ACCOUNT = "DEMO1";
    s.SECTION = "FORTS";
    s.Left = s.Top = 100;
    s.Height = 750;
    s.FullWidth = 500;
    s.ShortWidth = 255;
    s.DOMPanelWidth = 250;
    s.DOMCol1Width = s.DOMCol2Width = s.DOMCol3Width = s.DOMCol4Width = s.DOMCol5Width = 40;
    s.DOMCol6Width = 26;
    s.DOMRowHeight = 15;
    s.DOMRowCount = 41;
    s.DOMFontSize = 8;
    s.DomFontName = "Courier New";
    s.DefaultContract = "SiZ6";
    s.DefaultContractCnt = 1;
    s.DefaultLimitOrderShift = 0;
    s.DefaultLimitStopShift = 1;
    s.DefaultFullView = true;
    s.MARKETBUY = 112;
    s.MARKETSELL = 113;
    s.MARKETPLUSBUY = 32880;  // Alt+F1
    s.MARKETPLUSSELL = 32881;
    s.CLEARALL = 116;
}

struct Figures {
    double median, p90, p99, max;
};

Figures figures(std::vector<double> micros) {
    std::sort(micros.begin(), micros.end());
    auto at = [&](double q) { return micros[static_cast<std::size_t>(q * static_cast<double>(micros.size() - 1))]; };
    return {at(0.5), at(0.9), at(0.99), micros.back()};
}

void print(const char* what, const Figures& f) {
    std::printf("%-34s median %7.2f us   p90 %7.2f us   p99 %7.2f us   max %8.2f us\n", what, f.median, f.p90, f.p99,
                f.max);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int presses = argc > 1 ? std::max(10, std::atoi(argv[1])) : 5000;

    QTemporaryDir folder;
    if (!folder.isValid()) return 1;
    const std::string path = folder.path().toStdString() + "/";

    NoProcesses processes;
    std::unique_ptr<velmora::Clock> clock = makeSystemClock();
    std::unique_ptr<LocaleFormats> locale = makeSystemLocaleFormats();
    CountedMessages messages;
    NoLibrary library;
    // The design's settings in the ini, as a user's; the books come from the script's link,
    // written here by hand, whose clock stands still so that it never goes quiet.
    Settings design;
    applyDesignSettings(design, path);
    const std::string ini = path + "Velmora.ini";
    SaveConf(ini, design);
    WriteProfileString(ini, "COMMON", "OutputWay", "TRI");
    WriteProfileString(ini, "COMMON", "LogLevel", argc > 2 ? argv[2] : "1");  // 1 is the shipped setting
    WriteProfileString(ini, "COMMON", "BookSource", "script");
    WriteProfileString(ini, "SCRIPT", "Instruments", "SPBFUT:SiZ6");
    const LinkTime linkTime = Stopwatch::now();
    Session session{Platform{processes, *clock, *locale, messages, library},
                    SessionOptions{path, [linkTime] { return linkTime; }}};

    TfrmMain window(session, TfrmMain::StartUp::Skipped);
    session.InitAll(window);
    const int script = ::open((path + "velmora-link.fifo").c_str(), O_WRONLY | O_NONBLOCK);
    const std::string lines = scriptLines();
    if (script < 0 || ::write(script, lines.data(), lines.size()) != static_cast<ssize_t>(lines.size())) {
        std::fprintf(stderr, "the script's link did not open\n");
        return 1;
    }
    session.PollBooks(window);
    if (!session.instrumentChosen()) {
        std::fprintf(stderr, "no instrument shown\n");
        return 1;
    }
    window.show();
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window)) {
        std::fprintf(stderr, "the window did not become active\n");
        return 1;
    }
    QWidget* ladder = window.findChild<QWidget*>(QStringLiteral("sgDOM"));
    ladder->setFocus();
    QApplication::processEvents();

    const std::string tri = session.settings().TRIFileName;
    auto size = [&] { return std::filesystem::exists(tri) ? std::filesystem::file_size(tri) : 0u; };
    auto run = [&](Qt::Key key, int count, bool sends) {
        std::vector<double> micros;
        micros.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            const auto before = size();
            const Stopwatch::time_point start = Stopwatch::now();
            QTest::keyPress(ladder, key, Qt::AltModifier);
            const Stopwatch::time_point end = Stopwatch::now();
            QTest::keyRelease(ladder, key, Qt::AltModifier);
            if ((size() > before) != sends) {
                std::fprintf(stderr, "press %d: quik.tri %s\n", i, sends ? "did not grow" : "grew");
                std::exit(1);
            }
            micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        }
        return figures(std::move(micros));
    };

    run(Qt::Key_F1, 200, true);  // warm-up: file system caches, first-use allocations
    const Figures hotkey = run(Qt::Key_F1, presses, true);
    const Figures unbound = run(Qt::Key_F9, presses, false);
    std::printf("%d presses each, log level %d\n", presses, session.log().LogThreshold);
    print("Alt+F1 press to line in quik.tri", hotkey);
    print("Alt+F9 press (no hotkey)", unbound);
    std::printf("program's own share (median)       %7.2f us\n", hotkey.median - unbound.median);
    return messages.shown == 0 ? 0 : 1;
}
