// Time from a market hotkey's key press to its transaction line in quik.tri, through the real
// window: the press goes through the toolkit's key delivery (shortcut override, then the key
// event), the window's hotkey match, the order command and the synchronous append. An unbound
// key's delivery is timed alike, as the toolkit's own share.
//
//   hotkey_latency [presses] [log level]   (offscreen unless QT_QPA_PLATFORM says otherwise)
// At log level 2 and above every order text is also appended to the log.
#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "bench/bench_support.h"
#include "app/tfrm_main.h"
#include "core/session.h"
#include "ladder/ladder_refresh.h"
#include "orders/stop_orders.h"
#include "platform/clock.h"
#include "platform/message_sink.h"
#include "platform/trans_library.h"
#include "secs/security_list.h"
#include "settings/alarms.h"

namespace {

using namespace velmora::bench;

using namespace velmora;
using Stopwatch = std::chrono::steady_clock;


// SiZ6 with 20 bids and 20 asks around 92350, as the refresh would have read them.
void chooseInstrument(Session& session) {
    auto security = std::make_unique<TSecShareRecord>();
    security->Ticker = "SiZ6";
    security->ClassCode = "SPBFUT";
    security->BaseContract = "Si";
    security->IntPriceStep = 1;
    security->Decimals = 0;
    session.SecurityList = std::make_unique<TSecShareList>();
    session.SecurityList->append(std::move(security));

    auto table = std::make_unique<TQuoteTable>();
    for (int i = 0; i < 40; ++i) {
        TQuoteRecord row;
        row.setSide(i < 20 ? Side::Buy : Side::Sell);
        row.IntPrice = static_cast<std::uint32_t>(92330 + i + (i < 20 ? 0 : 1));
        row.Quantity = static_cast<std::uint32_t>(10 + i);
        table->rows.push_back(row);
    }
    session.discovery.reset();
    session.discovery.show(*table, session.SecurityList->at(0));
    session.discovery.tables().push_back(std::move(table));
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
    Session session{Platform{processes, *clock, *locale, messages, library}};
    session.ProgramDir = path;
    session.SettingsPath = path + "Velmora.ini";
    session.log.LogPath = path + "Velmora.log";
    session.log.LogThreshold = argc > 2 ? std::atoi(argv[2]) : 1;  // 1 is the shipped setting
    session.StopOrders = std::make_unique<TStopOrders>();
    session.Alarms = std::make_unique<TAlarms>();
    applyDesignSettings(session.settings, path);
    chooseInstrument(session);

    TfrmMain window(session, TfrmMain::StartUp::Skipped);
    window.ApplySettingsToWindow();
    window.WriteLadderHeader();
    session.RefreshDOM();
    window.ladderChanged();
    window.show();
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window)) {
        std::fprintf(stderr, "the window did not become active\n");
        return 1;
    }
    QWidget* ladder = window.findChild<QWidget*>(QStringLiteral("sgDOM"));
    ladder->setFocus();
    QApplication::processEvents();

    const std::string tri = session.settings.TRIFileName;
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
    std::printf("%d presses each, log level %d\n", presses, session.log.LogThreshold);
    print("Alt+F1 press to line in quik.tri", hotkey);
    print("Alt+F9 press (no hotkey)", unbound);
    std::printf("program's own share (median)       %7.2f us\n", hotkey.median - unbound.median);
    return messages.shown == 0 ? 0 : 1;
}
