// Time from a change of the shown book in the stand-in terminal to the end of the window's
// repaint that shows it: the real window, its timer and event loop, offscreen. The stand-in
// reports when it wrote the default contract's book and a digest of its rows; the window's
// ladder paints are stamped with the digest of the rows they show. A move that no paint shows
// before the next move (a change in levels off screen) is not counted.
//
//   change_to_screen [RefreshInterval ms] [seconds] [stand-in rate ms]   (default 100 60 253)
// The default rate shares no factor with usual intervals, so the changes fall at every phase of the timer.
#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <vector>

#include "bench/bench_support.h"
#include "app/tfrm_main.h"
#include "core/session.h"
#include "platform/clock.h"
#include "platform/message_sink.h"
#include "platform/trans_library.h"

namespace {

using namespace velmora::bench;

using namespace velmora;

// Only this benchmark's stand-in, whatever other terminals run on the machine.
struct OnlyOneProcess : ProcessAccess {
    ProcessAccess& system;
    std::uint32_t id;
    OnlyOneProcess(ProcessAccess& systemAccess, std::uint32_t processId) : system(systemAccess), id(processId) {}
    std::vector<ProcessEntry> listProcesses() override {
        std::vector<ProcessEntry> found;
        for (ProcessEntry& entry : system.listProcesses())
            if (entry.id == id) found.push_back(entry);
        return found;
    }
    std::unique_ptr<ProcessHandle> open(std::uint32_t processId) override { return system.open(processId); }
};

// The stand-in's digest: FNV-1a over side, price, quantity and own quantity of every row.
std::uint64_t rowsDigest(const TQuoteTable& table) {
    std::uint64_t digest = 14695981039346656037ull;
    for (const auto& row : table.rows)
        for (std::uint32_t word : {std::uint32_t{row.Direction}, row.IntPrice, row.Quantity, row.SelfQuantity})
            for (int shift = 0; shift < 32; shift += 8) digest = (digest ^ ((word >> shift) & 0xFF)) * 1099511628211ull;
    return digest;
}

struct Stamp {
    std::int64_t at;
    std::uint64_t digest;
};

// Stamps the end of every ladder paint, and every timer tick's start.
class PaintWatch : public QObject {
public:
    PaintWatch(Session& session, QObject* timer) : session_(session), timer_(timer) {}
    std::vector<Stamp> paints;
    std::vector<std::int64_t> ticks;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == timer_ && event->type() == QEvent::Timer) ticks.push_back(steadyNow());
        if (watched == timer_ || event->type() != QEvent::Paint || inside_) return false;
        inside_ = true;
        QCoreApplication::sendEvent(watched, event);
        inside_ = false;
        if (session_.shownBook()) paints.push_back({steadyNow(), rowsDigest(*session_.shownBook())});
        return true;
    }

private:
    Session& session_;
    QObject* timer_;
    bool inside_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int interval = argc > 1 ? std::atoi(argv[1]) : 100;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 60;
    const int rate = argc > 3 ? std::atoi(argv[3]) : 253;

    QTemporaryDir folder;
    if (!folder.isValid()) return 1;
    const QString quik = folder.path() + "/quik";
    const QString app = folder.path() + "/app";
    QDir().mkpath(app);
    const QString iniPath = app + "/Velmora.ini";

    QProcess standIn;
    standIn.setProgram(QCoreApplication::applicationDirPath() + "/info.exe");
    standIn.setArguments({"--folder", quik, "--rate", QString::number(rate), "--report-moves", "--write-ini", iniPath});
    standIn.start();
    if (!standIn.waitForReadyRead(10000) || !QFile::exists(iniPath)) {
        std::fprintf(stderr, "the stand-in did not start\n");
        return 1;
    }
    QFile ini(iniPath);
    if (!ini.open(QIODevice::ReadOnly)) return 1;
    QByteArray text = ini.readAll();
    ini.close();
    text.replace("[TECH]\r\n", "[TECH]\r\nRefreshInterval=" + QByteArray::number(interval) + "\r\n");
    if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 1;
    ini.write(text);
    ini.close();

    std::unique_ptr<ProcessAccess> system = makeSystemProcessAccess();
    OnlyOneProcess processes(*system, static_cast<std::uint32_t>(standIn.processId()));
    std::unique_ptr<velmora::Clock> clock = makeSystemClock();
    std::unique_ptr<LocaleFormats> locale = makeSystemLocaleFormats();
    CountedMessages messages;
    NoLibrary library;
    Session session{Platform{processes, *clock, *locale, messages, library}, SessionOptions{(app + "/").toStdString()}};

    std::unique_ptr<PaintWatch> watch;
    {
        TfrmMain window(session);
        window.show();
        QTimer::singleShot(3000, [&] {
            auto* ladder = window.findChild<QAbstractItemView*>(QStringLiteral("sgDOM"));
            auto* timer = window.findChild<QTimer*>(QStringLiteral("tmrRefreshDOM"));
            watch = std::make_unique<PaintWatch>(session, timer);
            ladder->viewport()->installEventFilter(watch.get());
            timer->installEventFilter(watch.get());
            standIn.readAllStandardOutput();  // moves before the watch began
        });
        QTimer::singleShot(3000 + seconds * 1000, &application, &QApplication::quit);
        application.exec();
    }
    const QByteArray output = standIn.readAllStandardOutput();
    standIn.terminate();
    standIn.waitForFinished(3000);
    if (!watch || session.settings().RefreshInterval != interval) {
        std::fprintf(stderr, "the window did not start with RefreshInterval %d\n", interval);
        return 1;
    }

    std::vector<Stamp> moves;
    std::istringstream lines(output.toStdString());
    for (std::string word; lines >> word;) {
        if (word != "MOVE") continue;
        Stamp move{};
        lines >> move.at >> std::hex >> move.digest >> std::dec;
        moves.push_back(move);
    }
    std::vector<double> latencies, ownShares;
    std::size_t unchanged = 0, unseen = 0;
    for (std::size_t k = 0; k < moves.size(); ++k) {
        if (k > 0 && moves[k].digest == moves[k - 1].digest) {
            ++unchanged;
            continue;
        }
        const std::int64_t next = k + 1 < moves.size() ? moves[k + 1].at : INT64_MAX;
        auto paint = std::find_if(watch->paints.begin(), watch->paints.end(), [&](const Stamp& p) {
            return p.at > moves[k].at && p.at < next && p.digest == moves[k].digest;
        });
        if (paint == watch->paints.end()) {
            ++unseen;
            continue;
        }
        latencies.push_back(static_cast<double>(paint->at - moves[k].at) / 1e6);
        auto tick = std::upper_bound(watch->ticks.begin(), watch->ticks.end(), paint->at);
        if (tick != watch->ticks.begin()) ownShares.push_back(static_cast<double>(paint->at - *std::prev(tick)) / 1e3);
    }
    if (latencies.size() < 10) {
        std::fprintf(stderr, "only %zu changes were measured\n", latencies.size());
        return 1;
    }
    std::printf("RefreshInterval %d ms, stand-in moves every %d ms, %d s: %zu changes measured (%zu moves left the "
                "shown book as it was, %zu changed only levels off screen)\n",
                interval, rate, seconds, latencies.size(), unchanged, unseen);
    std::printf("change to repainted cell   p50 %7.2f ms   p90 %7.2f ms   p99 %7.2f ms   max %7.2f ms\n",
                percentile(latencies, 0.5), percentile(latencies, 0.9), percentile(latencies, 0.99),
                percentile(latencies, 1.0));
    std::printf("floor (timer wait alone)   p50 %7.2f ms                  p99 %7.2f ms\n", interval * 0.5,
                interval * 0.99);
    std::printf("tick start to paint end    p50 %7.1f us   p99 %7.1f us\n", percentile(ownShares, 0.5),
                percentile(ownShares, 0.99));
    return messages.shown == 0 ? 0 : 1;
}
