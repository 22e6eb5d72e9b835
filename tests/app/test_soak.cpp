// Soak: the real window, its real start-up and 100 ms timer against a hostile stand-in terminal
// for a bounded time. After every tick the ladder must show a consistent book and the tick must
// have completed; resident memory must stay near its early level; a restarted terminal must be
// followed. VELMORA_SOAK_SECONDS sets the hostile soak's length as two thirds of it (default 20),
// VELMORA_RESTART_SECONDS the restarting one's (default 60), VELMORA_SOAK_SEED the stand-in's seed
// (default random).
#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "app/ladder_view.h"
#include "app/tfrm_main.h"
#include "core/session.h"
#include "ladder/ladder_grid.h"
#include "platform/clock.h"
#include "platform/trans_library.h"
#include "support/fakes.h"
#include "support/standin_process.h"

using namespace velmora;
using namespace velmora::testing;
using SteadyClock = std::chrono::steady_clock;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool MemoryIsMeasurable = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool MemoryIsMeasurable = false;
#else
constexpr bool MemoryIsMeasurable = true;
#endif
#else
constexpr bool MemoryIsMeasurable = true;
#endif

// Growth allowed over the early level. Steady running allocates nothing that lives past a tick;
// the allowance covers the allocator keeping freed pages and Qt's caches settling. A book's rows
// lost per tick would pass it within a few minutes.
constexpr long MemoryAllowanceKiB = 3 * 1024;

int secondsFrom(const char* variable, int fallback) {
    const char* text = std::getenv(variable);
    const int seconds = text ? std::atoi(text) : fallback;
    return seconds > 0 ? seconds : fallback;
}

std::uint32_t soakSeed() {
    if (const char* text = std::getenv("VELMORA_SOAK_SEED")) return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
    return std::random_device{}();
}

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

bool isCount(const QString& text) {
    bool number = false;
    const qulonglong value = text.toULongLong(&number);
    return number && value > 0 && !text.startsWith(QLatin1Char('+'));
}

// What is wrong with the ladder the window shows, or empty text when it shows a consistent book:
// each data row blank in columns 0-4 or a price with exactly one quantity column; own quantities
// only beside their side's quantity; asks in one block ending right above the middle, bids in
// one block starting right below it; prices strictly falling down the rows.
QString ladderFault(const QAbstractItemModel& model, int rowCount) {
    if (model.rowCount() != rowCount) return QStringLiteral("%1 rows instead of %2").arg(model.rowCount()).arg(rowCount);
    if (model.index(0, LadderGrid::PriceColumn).data().toString() != QStringLiteral("цена"))
        return QStringLiteral("the header row is gone");
    const int half = (rowCount - 1) / 2;
    const int lastAskRow = rowCount - 1 - half;
    int previousRow = -1;
    double previousPrice = 0;
    int topAsk = -1, bottomAsk = -1, topBid = -1, bottomBid = -1, asks = 0, bids = 0;
    for (int row = 1; row < rowCount; ++row) {
        QString cell[5];
        for (int column = 0; column < 5; ++column) cell[column] = model.index(row, column).data().toString();
        const QString where = QStringLiteral("row %1 [%2|%3|%4|%5|%6]: ")
                                  .arg(row)
                                  .arg(cell[0], cell[1], cell[2], cell[3], cell[4]);
        if (std::all_of(cell, cell + 5, [](const QString& text) { return text.isEmpty(); })) continue;
        QString priceText = cell[LadderGrid::PriceColumn];
        priceText.replace(QLatin1Char(','), QLatin1Char('.'));
        bool number = false;
        const double price = priceText.toDouble(&number);
        if (!number || price <= 0) return where + QStringLiteral("no price");
        const bool sell = !cell[LadderGrid::SellQuantity].isEmpty();
        const bool buy = !cell[LadderGrid::BuyQuantity].isEmpty();
        if (sell == buy) return where + QStringLiteral("not exactly one quantity");
        if (!isCount(cell[sell ? LadderGrid::SellQuantity : LadderGrid::BuyQuantity]))
            return where + QStringLiteral("a quantity that is not a count");
        const int ownColumn = sell ? LadderGrid::OwnSell : LadderGrid::OwnBuy;
        if (!cell[sell ? LadderGrid::OwnBuy : LadderGrid::OwnSell].isEmpty())
            return where + QStringLiteral("an own quantity on the other side");
        if (!cell[ownColumn].isEmpty() && !isCount(cell[ownColumn]))
            return where + QStringLiteral("an own quantity that is not a count");
        if (previousRow > 0 && price >= previousPrice)
            return where + QStringLiteral("price not below row %1's").arg(previousRow);
        previousRow = row;
        previousPrice = price;
        if (sell) {
            if (topAsk < 0) topAsk = row;
            bottomAsk = row;
            ++asks;
        } else {
            if (topBid < 0) topBid = row;
            bottomBid = row;
            ++bids;
        }
    }
    if (asks > 0 && (bottomAsk != lastAskRow || bottomAsk - topAsk + 1 != asks))
        return QStringLiteral("asks in rows %1-%2 (%3 of them), not one block ending at row %4")
            .arg(topAsk).arg(bottomAsk).arg(asks).arg(lastAskRow);
    if (bids > 0 && (topBid != lastAskRow + 1 || bottomBid - topBid + 1 != bids))
        return QStringLiteral("bids in rows %1-%2 (%3 of them), not one block starting at row %4")
            .arg(topBid).arg(bottomBid).arg(bids).arg(lastAskRow + 1);
    return {};
}

// The 0-based place of the header at `record` in the chain starting at the word at `base`;
// -1 when it is not found (a fault may be bending the chain just then).
int chainPosition(ProcessHandle& process, std::uint32_t base, std::uint32_t record) {
    std::uint32_t current = 0;
    if (!process.read(base, &current, 4)) return -1;
    for (int position = 0; position < 64 && current != 0; ++position) {
        if (current == record) return position;
        if (!process.read(current, &current, 4)) return -1;
    }
    return -1;
}

// A program on the real platform beside a hostile stand-in, its window started as main() would.
struct Soak {
    enum class Terminal { Steady, Restarting };

    TempFolder quik, app;
    std::unique_ptr<StandinProcess> terminal;
    std::unique_ptr<ProcessAccess> processes;
    OnlyProcess* terminals = nullptr;  // in `processes`
    std::unique_ptr<Clock> clock = makeSystemClock();
    std::unique_ptr<LocaleFormats> locale = makeSystemLocaleFormats();
    RecordingMessageSink messages;
    std::unique_ptr<TransLibrary> transLibrary = loadTransLibrary(VELMORA_BIN_DIR "/");
    std::unique_ptr<Session> session;
    std::unique_ptr<TfrmMain> window;
    QTimer* timer = nullptr;
    const QAbstractItemModel* model = nullptr;
    std::uint32_t terminalId = 0;

    // Observed on every tick.
    long ticks = 0;
    long ladderFaults = 0;
    QString firstLadderFault;
    long missedCycles = 0;
    long ticksWithBook = 0;
    long ticksWithChange = 0;
    bool changedSinceTick = false;
    double longestGapSeconds = 0;
    SteadyClock::time_point lastTick{};
    // Resident memory, sampled once a second.
    long memoryBaseline = 0;  // the highest early sample
    long memoryHighest = 0;   // the highest later sample
    long memoryFirst = 0, memoryLast = 0;
    SteadyClock::time_point started{};
    std::chrono::seconds warmUp{}, baselineEnd{};
    // What the stand-in reported.
    std::map<std::string, int> faults;
    int faultsOnShownBook = 0;
    int shownBookPosition = -1;
    int terminalsStarted = 0;
    long ordersSent = 0;
    // The supervisor's children by process id, with when each said it serves; the ones the program opened.
    std::map<std::uint32_t, SteadyClock::time_point> children;
    std::set<std::uint32_t> opened;
    std::vector<double> followSeconds;  // from a child's first lines to the tick that opened it

    Soak(Terminal kind, std::uint32_t seed, int seconds) {
        // Faults come faster than by default so that the one book shown meets one every second or two.
        std::vector<std::string> options{"--hostile",    "--rate",         "20",  "--seed",          std::to_string(seed),
                                         "--fault-every", "100",           "--fault-hold", "80", "--report-faults",
                                         "--write-ini",  app.file("Velmora.ini")};
        if (kind == Terminal::Restarting) {
            // Each terminal lives longer than the 5 s between looks for a lost one.
            options.push_back("--restart-every");
            options.push_back(std::to_string(std::max(8, seconds / 5)));
        }
        terminal = std::make_unique<StandinProcess>(StandinProcess::serving(quik.path(), options));
        terminalsStarted = 1;
        terminalId = static_cast<std::uint32_t>(terminal->pid());
        // A supervisor names the child that serves; the program must find that one only.
        if (kind == Terminal::Restarting) {
            auto line = terminal->readLine();
            if (line && line->rfind("PID=", 0) == 0) terminalId = static_cast<std::uint32_t>(std::stoul(line->substr(4)));
        }
        children[terminalId] = SteadyClock::now();
        auto only = std::make_unique<OnlyProcess>(makeSystemProcessAccess(), terminalId);
        terminals = only.get();
        processes = std::move(only);
        session = std::make_unique<Session>(Platform{*processes, *clock, *locale, messages, *transLibrary},
                                            SessionOptions{app.path()});
        window = std::make_unique<TfrmMain>(*session);
        timer = window->findChild<QTimer*>(QStringLiteral("tmrRefreshDOM"));
        model = window->findChild<LadderView*>(QStringLiteral("sgDOM"))->model();
        // Connected after the window's own slot, so it runs right after each tick.
        QObject::connect(timer, &QTimer::timeout, [this] { afterTick(); });
        QObject::connect(model, &QAbstractItemModel::dataChanged, [this] { changedSinceTick = true; });
        window->show();
    }

    ~Soak() {
        window.reset();
        terminal->stop();
    }

    void drainTerminal() {
        while (auto line = terminal->readLine(std::chrono::milliseconds(2))) {
            std::istringstream fields(*line);
            std::string word, name;
            int position = -1;
            fields >> word >> name >> position;
            if (word == "FAULT") {
                ++faults[name];
                // Positions are those of the first terminal's chain.
                if (terminalsStarted == 1 && position >= 0 && position == shownBookPosition) ++faultsOnShownBook;
            } else if (line->rfind("DOMBASE=", 0) == 0) {
                ++terminalsStarted;
            } else if (line->rfind("PID=", 0) == 0) {
                const auto id = static_cast<std::uint32_t>(std::stoul(line->substr(4)));
                children.emplace(id, SteadyClock::now());
                terminals->allow(id);
            }
        }
    }

    void afterTick() {
        const auto now = SteadyClock::now();
        if (ticks > 0) longestGapSeconds = std::max(longestGapSeconds, std::chrono::duration<double>(now - lastTick).count());
        lastTick = now;
        ++ticks;
        // A tick that ended early leaves the counter where it was.
        if (session->cycle() != static_cast<std::uint32_t>(ticks)) {
            ++missedCycles;
            ticks = session->cycle();
        }
        if (session->instrumentChosen()) ++ticksWithBook;
        if (opened.insert(session->terminal().processId()).second && children.count(session->terminal().processId()) &&
            opened.size() > 1)
            followSeconds.push_back(std::chrono::duration<double>(now - children[session->terminal().processId()]).count());
        if (changedSinceTick) ++ticksWithChange;
        changedSinceTick = false;
        const QString fault = ladderFault(*model, session->settings().DOMRowCount);
        if (!fault.isEmpty() && ladderFaults++ == 0) firstLadderFault = QStringLiteral("tick %1: ").arg(ticks) + fault;
        if (shownBookPosition < 0 && session->instrumentChosen()) {
            auto handle = makeSystemProcessAccess()->open(terminalId);
            if (handle)
                shownBookPosition = chainPosition(*handle, static_cast<std::uint32_t>(session->settings().DOMBASE),
                                                  session->shownBook()->RecordAddress);
        }
        drainTerminal();
        if (ticks % 10 == 0) sampleMemory(now);
        if (ticks % 600 == 0) {
            std::printf("  %ld ticks, resident %ld KiB\n", ticks, memoryLast);
            std::fflush(stdout);
        }
        placeOrders();
    }

    void sampleMemory(SteadyClock::time_point now) {
        const long resident = residentKiB();
        const auto elapsed = now - started;
        if (memoryFirst == 0) memoryFirst = resident;
        memoryLast = resident;
        if (elapsed < warmUp) return;
        if (elapsed < baselineEnd) memoryBaseline = std::max(memoryBaseline, resident);
        else memoryHighest = std::max(memoryHighest, resident);
    }

    // Now and then a best buy or sell that rests as an own quantity, and now and then all of
    // them removed, so the own columns come and go under the hostile writes.
    void placeOrders() {
        const char* action = nullptr;
        if (ticks % 20 == 0) action = ticks % 40 == 0 ? "acMarketPlusBuy" : "acMarketPlusSell";
        if (ticks % 300 == 150) action = "acClearAllOrders";
        if (action == nullptr || !session->instrumentChosen()) return;
        window->findChild<QAction*>(QLatin1String(action))->trigger();
        ++ordersSent;
    }

    // Starts the program, then lets it run `seconds`; false when start-up did not finish.
    bool run(int seconds) {
        started = SteadyClock::now();
        warmUp = std::chrono::seconds(std::min(30, std::max(2, seconds / 4)));
        baselineEnd = 2 * warmUp;
        if (!QTest::qWaitFor([this] { return timer->isActive(); }, 15000)) return false;
        const auto end = started + std::chrono::seconds(seconds);
        while (SteadyClock::now() < end) QTest::qWait(200);
        return true;
    }

    std::string report(const char* phase) const {
        std::ostringstream text;
        text << phase << ": ticks " << ticks << ", with the book shown " << ticksWithBook << ", ladder changed on "
             << ticksWithChange << ", longest gap " << longestGapSeconds << " s, ladder faults " << ladderFaults
             << ", missed cycles " << missedCycles << ", orders " << ordersSent << "\n  memory KiB: first "
             << memoryFirst << ", baseline " << memoryBaseline << ", highest later " << memoryHighest << ", last "
             << memoryLast << "\n  terminals started " << terminalsStarted << ", faults on the shown book (position "
             << shownBookPosition << ") " << faultsOnShownBook << ", all faults:";
        for (const auto& [name, count] : faults) text << ' ' << name << '=' << count;
        return text.str();
    }
};

// The checks every phase must pass, whatever the terminal did.
void verifyRan(const Soak& soak) {
    QVERIFY2(soak.ladderFaults == 0, qPrintable(QStringLiteral("%1 inconsistent ladders; first at %2")
                                                    .arg(soak.ladderFaults)
                                                    .arg(soak.firstLadderFault)));
    QVERIFY2(soak.missedCycles == 0, "a tick ended without advancing CycleNum");
    QVERIFY2(soak.messages.shown.empty(), soak.messages.shown.empty() ? "" : soak.messages.shown.front().c_str());
    QVERIFY(!soak.session->closing());
    // How often and how evenly the timer came is in the report; a busy machine may slow it.
    QVERIFY2(soak.ticks > 0, "no tick ran");
    if (MemoryIsMeasurable && soak.memoryHighest > 0)
        QVERIFY2(soak.memoryHighest <= soak.memoryBaseline + MemoryAllowanceKiB,
                 "resident memory grew past its early level");
}

}  // namespace

class SoakTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QApplication::setQuitOnLastWindowClosed(false);
        seed_ = soakSeed();
        total_ = secondsFrom("VELMORA_SOAK_SECONDS", 20);
        restarting_ = secondsFrom("VELMORA_RESTART_SECONDS", 60);
        std::printf("soak: %d s hostile, %d s restarting, stand-in seed %u\n", total_, restarting_, seed_);
    }
    void hostileTerminalLeavesTheLadderConsistentAndMemorySteady();
    void everyRestartedTerminalIsFollowed();

private:
    std::uint32_t seed_ = 0;
    int total_ = 20;
    int restarting_ = 60;
};

void SoakTest::hostileTerminalLeavesTheLadderConsistentAndMemorySteady() {
    const int seconds = std::max(4, total_ * 2 / 3);
    Soak soak(Soak::Terminal::Steady, seed_, seconds);
    QVERIFY2(soak.run(seconds), readFile(soak.app.file("Velmora.log")).c_str());
    std::printf("%s\n", soak.report("hostile").c_str());
    verifyRan(soak);
    // The book stays live: the reader accepts most of what the hostile terminal writes.
    // A chain bent just as discovery walks it can hide the book until the next discovery, 5 s on.
    QVERIFY2(soak.ticksWithBook >= soak.ticks / 2, "the instrument was lost for long");
    QVERIFY2(soak.ticksWithChange >= soak.ticks / 4, "the ladder stood still");
    QVERIFY(soak.ordersSent > 0);
}

void SoakTest::everyRestartedTerminalIsFollowed() {
    const int seconds = restarting_;
    Soak soak(Soak::Terminal::Restarting, seed_ + 1, seconds);
    QVERIFY2(soak.run(seconds), readFile(soak.app.file("Velmora.log")).c_str());
    std::printf("%s\n  terminals opened %zu of %zu, after (s):", soak.report("restarting").c_str(), soak.opened.size(),
                soak.children.size());
    for (double seconds : soak.followSeconds) std::printf(" %.1f", seconds);
    std::printf("\n");
    verifyRan(soak);
    QVERIFY2(soak.terminalsStarted >= 3, "the supervisor did not restart the terminal");
    // One that started in the last seconds may not have been looked for yet.
    const auto end = soak.started + std::chrono::seconds(seconds);
    for (const auto& [id, since] : soak.children)
        if (end - since > std::chrono::seconds(8))
            QVERIFY2(soak.opened.count(id) == 1, qPrintable(QStringLiteral("terminal %1 was never opened").arg(id)));
}

QTEST_MAIN(SoakTest)
#include "test_soak.moc"
