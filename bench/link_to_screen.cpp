// Time from a book line written into the link's FIFO to the end of the window's repaint that
// shows it, in mode SCRIPT: the real window and its event loop, offscreen. A writer thread plays
// velmora.lua; each book it writes carries its sequence number as the best bid's quantity, and
// every ladder paint is stamped with the best bid quantity it shows. Anonymous trades, when
// asked for, come as tape lines at the best bid and offer, sides alternating, so the volume
// column and the last trade's mark change as well.
//
//   link_to_screen [RefreshInterval ms] [seconds] [book every ms] [LEVELS|PRICES] [trades a second]
//   (default 100 20 7 LEVELS 0)
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "app/tfrm_main.h"
#include "core/session.h"
#include "platform/clock.h"
#include "platform/message_sink.h"
#include "platform/process_access.h"
#include "platform/trans_library.h"

namespace {

using namespace velmora::bench;

using namespace velmora;

// The window's thread alone: the writer playing the script is not Velmora.
double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}


struct Stamp {
    std::int64_t at;
    std::uint32_t sequence;
};

std::uint32_t shownSequence(const Session& session) {
    const TQuoteTable* table = session.shownBook();
    if (!table || table->Count() == 0) return 0;
    const int bestBid = table->Count() - table->SellCount() - 1;
    return bestBid >= 0 ? table->row(bestBid).Quantity : 0;
}

class PaintWatch : public QObject {
public:
    explicit PaintWatch(Session& session) : session_(session) {}
    std::vector<Stamp> paints;
    // Inside the ladder's paint event, all paints together.
    double paintSeconds = 0;
    double paintCpuSeconds = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint || inside_) return false;
        inside_ = true;
        const std::int64_t start = steadyNow();
        const double cpuStart = threadSeconds();
        QCoreApplication::sendEvent(watched, event);
        const std::int64_t end = steadyNow();
        paintCpuSeconds += threadSeconds() - cpuStart;
        paintSeconds += static_cast<double>(end - start) / 1e9;
        inside_ = false;
        paints.push_back({end, shownSequence(session_)});
        return true;
    }

private:
    Session& session_;
    bool inside_ = false;
};

// 50 levels a side around a best bid that wanders, the sequence number as its quantity.
std::string bookLine(std::uint32_t sequence) {
    const int best = 95000 + static_cast<int>(sequence * 7 % 13);
    std::string line = "book\tSPBFUT\tSiZ6\t";
    for (int i = 0; i < 50; ++i)
        line += (i ? "," : "") + std::to_string(best - i) + ":" + std::to_string(i == 0 ? sequence : 10 + i);
    line += "\t";
    for (int i = 1; i <= 50; ++i) line += (i > 1 ? "," : "") + std::to_string(best + i) + ":" + std::to_string(5 + i);
    return line + "\n";
}

// Trade `number` of the tape, at the best offer (a buy) or the best bid (a sell) of book
// `sequence`, now and then a step further in, alternating sides.
std::string tapeLine(std::uint32_t sequence, std::uint32_t number) {
    const int best = 95000 + static_cast<int>(sequence * 7 % 13);
    const bool buy = number % 2 == 0;
    const int deeper = static_cast<int>(number / 2 % 3 == 2);
    const int price = buy ? best + 1 + deeper : best - deeper;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count() % 86400000;
    char time[24];
    std::snprintf(time, sizeof time, "%02lld:%02lld:%02lld.%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                  ms % 1000);
    return "tape\tSPBFUT\tSiZ6\t" + std::to_string(number) + "\t" + (buy ? "2" : "1") + "\t" +
           std::to_string(price) + "\t" + std::to_string(1 + number % 7) + "\t" + time + "\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int interval = argc > 1 ? std::atoi(argv[1]) : 100;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 20;
    const int every = argc > 3 ? std::atoi(argv[3]) : 7;
    // LEVELS (the default) or PRICES.
    const std::string ladderMode = argc > 4 ? argv[4] : "LEVELS";
    const int tradesPerSecond = argc > 5 ? std::atoi(argv[5]) : 0;

    QTemporaryDir folder;
    if (!folder.isValid()) return 1;
    const std::string quik = (folder.path() + "/quik/").toStdString();
    const QString app = folder.path() + "/app";
    QDir().mkpath(app);
    QDir().mkpath(QString::fromStdString(quik));
    // The run meets its stand-in script in a folder of its own, whatever else runs here.
    const std::string linkFolder = (folder.path() + "/link/").toStdString();
    ::setenv("VELMORA_LINK_FOLDER", linkFolder.c_str(), 1);
    QFile ini(app + "/Velmora.ini");
    if (!ini.open(QIODevice::WriteOnly)) return 1;
    ini.write(("[COMMON]\r\nQuikPath=" + quik + "\r\nBookSource=SCRIPT\r\nLadderMode=" + ladderMode +
               "\r\nLogLevel=1\r\n[SCRIPT]\r\n"
               "Instruments=SPBFUT:SiZ6\r\n[DEFAULT]\r\nDefaultContract=SiZ6\r\nDefaultFullView=1\r\n"
               "[POSITION]\r\nLeft=40\r\nTop=30\r\nHeight=750\r\nFullWidth=500\r\nShortWidth=255\r\n"
               "DOMPanelWidth=250\r\nDOMRowHeight=15\r\nDOMRowCount=41\r\nDOMFontSize=8\r\nDOMCol1Width=40\r\n"
               "DOMCol2Width=40\r\nDOMCol3Width=40\r\nDOMCol4Width=40\r\nDOMCol5Width=40\r\nDOMCol6Width=26\r\n"
               "[TECH]\r\nRefreshInterval=" + std::to_string(interval) + "\r\n").c_str());
    ini.close();

    NoProcesses processes;
    std::unique_ptr<velmora::Clock> clock = makeSystemClock();
    std::unique_ptr<LocaleFormats> locale = makeSystemLocaleFormats();
    CountedMessages messages;
    NoLibrary library;
    Session session{Platform{processes, *clock, *locale, messages, library}, SessionOptions{(app + "/").toStdString()}};

    std::mutex written;
    std::vector<Stamp> books;
    std::atomic<bool> stop{false};
    std::uint32_t trades = 0;
    std::thread writer;
    std::unique_ptr<PaintWatch> watch;
    double cpuAtStart = 0, cpuAtEnd = 0;
    {
        TfrmMain window(session);
        window.show();
        QTimer::singleShot(1000, [&] {
            auto* ladder = window.findChild<QAbstractItemView*>(QStringLiteral("sgDOM"));
            watch = std::make_unique<PaintWatch>(session);
            ladder->viewport()->installEventFilter(watch.get());
            cpuAtStart = threadSeconds();
            writer = std::thread([&] {
                const std::string request = readText(linkFolder + "velmora-1.txt");
                const int fd = ::open(requestValue(request, "stream").c_str(), O_WRONLY);
                if (fd < 0) return;
                const auto put = [fd](const std::string& text) { return ::write(fd, text.data(), text.size()); };
                put("velmora-link\t2\tbench\t" + requestValue(request, "run") +
                    "\tL1\nalive\t1\nsec\tSPBFUT\tSiZ6\t0\t1\t1\tSi\n");
                const auto started = std::chrono::steady_clock::now();
                for (std::uint32_t sequence = 1; !stop; ++sequence) {
                    std::string line = bookLine(sequence) + "alive\t1\n";
                    // The trades due by now, written after the book they traded against.
                    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
                    std::string tape;
                    while (trades < static_cast<std::uint32_t>(elapsed * tradesPerSecond))
                        tape += tapeLine(sequence, ++trades);
                    {
                        std::lock_guard<std::mutex> lock(written);
                        books.push_back({steadyNow(), sequence});
                    }
                    put(line);
                    if (!tape.empty()) put(tape);
                    std::this_thread::sleep_for(std::chrono::milliseconds(every));
                }
                ::close(fd);
            });
        });
        QTimer::singleShot(1000 + seconds * 1000, &application, [&] {
            cpuAtEnd = threadSeconds();
            application.quit();
        });
        application.exec();
        stop = true;
        if (writer.joinable()) writer.join();
    }
    if (!watch) return 1;
    if (std::getenv("LINK_BENCH_DEBUG")) {
        QFile log(app + "/Velmora.log");
        log.open(QIODevice::ReadOnly);
        std::fprintf(stderr, "script %d chosen %d live %d\n%s\n", session.booksArriveBetweenTicks(), session.instrumentChosen(),
                     session.terminal().watch().ladderLive(), log.readAll().left(3000).constData());
    }

    std::vector<double> latencies;
    std::size_t unseen = 0;
    for (std::size_t k = 0; k < books.size(); ++k) {
        const std::int64_t next = k + 1 < books.size() ? books[k + 1].at : INT64_MAX;
        auto paint = std::find_if(watch->paints.begin(), watch->paints.end(), [&](const Stamp& p) {
            return p.at > books[k].at && p.at < next && p.sequence == books[k].sequence;
        });
        if (paint == watch->paints.end()) {
            ++unseen;
            continue;
        }
        latencies.push_back(static_cast<double>(paint->at - books[k].at) / 1e6);
    }
    if (latencies.size() < 10) {
        std::fprintf(stderr, "only %zu books were measured (%zu written, %zu paints, last showing %u)\n",
                     latencies.size(), books.size(), watch->paints.size(),
                     watch->paints.empty() ? 0u : watch->paints.back().sequence);
        return 1;
    }
    std::printf("mode SCRIPT, LadderMode %s, RefreshInterval %d ms, a 50-level book every %d ms, %d trades a second "
                "(%u written), %d s: %zu books measured (%zu not painted before the next came)\n",
                ladderMode.c_str(), interval, every, tradesPerSecond, trades, seconds, latencies.size(), unseen);
    std::printf("book line to repainted cell   p50 %7.2f ms   p90 %7.2f ms   p99 %7.2f ms   max %7.2f ms\n",
                percentile(latencies, 0.5), percentile(latencies, 0.9), percentile(latencies, 0.99),
                percentile(latencies, 1.0));
    const double cpu = cpuAtEnd - cpuAtStart;
    const std::size_t repaints = watch->paints.size();
    std::printf("window thread's processor   %.2f %% of one core\n", 100.0 * cpu / seconds);
    std::printf("repaints   %zu (%.1f a second)   window thread per repaint %.1f us   inside the ladder's paint "
                "%.1f us (%.1f us of processor)\n",
                repaints, static_cast<double>(repaints) / seconds, repaints ? 1e6 * cpu / repaints : 0.0,
                repaints ? 1e6 * watch->paintSeconds / repaints : 0.0,
                repaints ? 1e6 * watch->paintCpuSeconds / repaints : 0.0);
    return messages.shown == 0 ? 0 : 1;
}
