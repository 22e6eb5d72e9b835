// Orders under load against the stand-in terminal, which rejects every third: each TRANS_ID must
// end final or "no reply", and each rejection must reach the panel and the log. Also the time
// from the stand-in's final reply to the panel showing it: in mode TRI from the reply line
// appearing in quik.tro (watched by a thread of its own), in mode DLL from the send, as the
// library's callback time is not seen from outside, in mode SCRIPT from the send too (the
// stand-in runs velmora.lua; the books and the answers come through it, polled as the window does).
//
//   order_load [TRI|DLL|SCRIPT] [orders] [per second]   (default TRI 1000 20)
#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "core/session.h"
#include "ladder/ladder_grid.h"
#include "platform/clock.h"
#include "platform/text_encoding.h"
#include "settings/ini_file.h"
#include "support/fake_view.h"
#include "support/fakes.h"
#include "support/standin_process.h"

namespace {

using namespace velmora::bench;

using namespace velmora;
using Steady = std::chrono::steady_clock;

struct QuietMessages : MessageSink {
    int shown = 0;
    void show(const std::string& text) override {
        ++shown;
        std::fprintf(stderr, "box: %s\n", text.c_str());
    }
};

// The panel, with the moment each rejection was put in it.
struct TimedView : testing::FakeView {
    std::map<std::uint32_t, Steady::time_point> rejectionShown;
    int noReplyShown = 0;
    void setInfoCaption(const std::string& text) override {
        FakeView::setInfoCaption(text);
        const std::string prefix = "Заявка ";
        if (text.rfind(prefix, 0) == 0 && text.find(" отклонена: ") != std::string::npos) {
            std::uint32_t id = 0;
            std::from_chars(text.data() + prefix.size(), text.data() + text.size(), id);
            rejectionShown.emplace(id, Steady::now());
        }
        if (text.rfind("Нет ответа терминала на заявку ", 0) == 0) ++noReplyShown;
    }
};

// Stamps each final rejection line of quik.tro as it appears.
class ReplyFileWatch {
public:
    explicit ReplyFileWatch(std::string path) : path_(std::move(path)), thread_([this] { run(); }) {}
    ~ReplyFileWatch() {
        stop_ = true;
        thread_.join();
    }
    std::map<std::uint32_t, Steady::time_point> written() {
        std::lock_guard<std::mutex> lock(mutex_);
        return written_;
    }

private:
    void run() {
        std::size_t offset = 0;
        std::string partial;
        while (!stop_) {
            if (std::FILE* file = std::fopen(path_.c_str(), "rb")) {
                std::fseek(file, static_cast<long>(offset), SEEK_SET);
                char buffer[65536];
                std::size_t got = 0;
                while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
                    offset += got;
                    partial.append(buffer, got);
                }
                std::fclose(file);
                const auto now = Steady::now();
                for (std::size_t end; (end = partial.find('\n')) != std::string::npos; partial.erase(0, end + 1)) {
                    const std::string line = partial.substr(0, end);
                    if (line.find(";STATUS=4;") == std::string::npos) continue;
                    std::uint32_t id = 0;
                    std::from_chars(line.data() + 9, line.data() + line.size(), id);  // after "TRANS_ID="
                    std::lock_guard<std::mutex> lock(mutex_);
                    written_.emplace(id, now);
                }
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }

    std::string path_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::map<std::uint32_t, Steady::time_point> written_;
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "TRI";
    const int orders = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int perSecond = argc > 3 ? std::atoi(argv[3]) : 20;
    const bool script = mode == "SCRIPT";
    const bool fromSend = mode == "DLL" || script;
    const bool dll = mode == "DLL";

    testing::TempFolder quik, app;
    const std::string ini = app.file("Velmora.ini");
    std::vector<std::string> options{"--static", "--reject-every", "3", "--write-ini", ini, "--output-way", mode};
    if (script) options.insert(options.end(), {"--script", VELMORA_BIN_DIR "/velmora.lua", "--report-script"});
    testing::StandinProcess terminal(testing::StandinProcess::serving(quik.path(), options));
    // Mode SCRIPT: the moment each transaction reached the terminal's sendTransaction, as it says.
    std::mutex handedMutex;
    std::map<std::uint32_t, Steady::time_point> handed;
    std::atomic<bool> stopReading{false};
    std::thread reader([&] {
        const std::string prefix = "SCRIPT sendTransaction ";
        while (script && !stopReading) {
            const auto line = terminal.readLine(std::chrono::milliseconds(200));
            if (!line || line->rfind(prefix, 0) != 0) continue;
            const std::size_t at = line->find("TRANS_ID=");
            std::uint32_t id = 0;
            if (at != std::string::npos) std::from_chars(line->data() + at + 9, line->data() + line->size(), id);
            std::lock_guard<std::mutex> lock(handedMutex);
            handed.emplace(id, Steady::now());
        }
    });
    WriteProfileString(ini, "COMMON", "LogLevel", "2");
    if (script) {
        WriteProfileString(ini, "COMMON", "BookSource", "SCRIPT");
        WriteProfileString(ini, "SCRIPT", "Instruments", "SPBFUT:SiZ6");
    }

    testing::OnlyProcess processes(makeSystemProcessAccess(), static_cast<std::uint32_t>(terminal.pid()));
    std::unique_ptr<Clock> clock = makeSystemClock();
    std::unique_ptr<LocaleFormats> locale = makeSystemLocaleFormats();
    QuietMessages messages;
    std::unique_ptr<TransLibrary> library = loadTransLibrary(VELMORA_BIN_DIR "/");
    testing::FakeTransLibrary noLibrary;
    TimedView view;
    Session session{Platform{processes, *clock, *locale, messages, dll ? *library : noLibrary},
                    SessionOptions{app.path()}};
    session.InitAll(view);
    session.RefreshTick(view);
    for (int wait = 0; script && !(view.ladderLive && session.instrumentChosen()) && wait < 500; ++wait) {
        session.PollBooks(view);
        if (wait % 10 == 0) session.RefreshTick(view);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!session.instrumentChosen()) {
        std::fprintf(stderr, "no instrument shown\n");
        return 1;
    }
    ReplyFileWatch watch(quik.file("quik.tro"));
    const std::string bestBid = session.ladder().cell(21, LadderGrid::PriceColumn);

    std::vector<std::uint32_t> sent;
    std::map<std::uint32_t, Steady::time_point> sentAt;
    const auto tickEvery = std::chrono::milliseconds(session.settings().RefreshInterval);
    const auto sendEvery = std::chrono::microseconds(1000000 / perSecond);
    auto nextTick = Steady::now(), nextSend = Steady::now();
    const auto began = Steady::now();
    while (static_cast<int>(sent.size()) < orders) {
        const auto now = Steady::now();
        if (now >= nextSend) {
            // Below the best bid, so that every order rests and none trades.
            const int steps = 1 + static_cast<int>(sent.size() % 20);
            view.contracts = 1;
            view.price = std::to_string(std::stoi(bestBid) - steps);
            const auto id = static_cast<std::uint32_t>(session.nextTransId());
            session.BuyAtEditorPrice(view);
            sent.push_back(id);
            sentAt[id] = Steady::now();
            nextSend += sendEvery;
        }
        if (now >= nextTick) {
            session.RefreshTick(view);
            nextTick += tickEvery;
        }
        // The window reads the script's stream as it comes; 2 ms stands in for its notifier.
        if (script) session.PollBooks(view);
        std::this_thread::sleep_until(std::min({nextTick, nextSend, Steady::now() + std::chrono::milliseconds(2)}));
    }
    const double sendingSeconds = std::chrono::duration<double>(Steady::now() - began).count();
    // Past the reply time-out, so that any transaction still open is told as silent.
    const auto settle = Steady::now() + std::chrono::seconds(session.settings().ReplyTimeout + 1);
    while (Steady::now() < settle) {
        session.RefreshTick(view);
        if (script) session.PollBooks(view);
        std::this_thread::sleep_for(tickEvery);
    }

    int accepted = 0, rejected = 0, silent = 0, open = 0, unknown = 0;
    for (std::uint32_t id : sent) {
        const TrackedTransaction* record = session.tracker().transaction(id);
        if (!record) {
            ++unknown;
            continue;
        }
        switch (record->state) {
            case TransState::Accepted: ++accepted; break;
            case TransState::Rejected: ++rejected; break;
            case TransState::NoReply: ++silent; break;
            default: ++open; break;
        }
    }
    const std::string log = cp1251ToUtf8(testing::readFile(app.file("Velmora.log")));
    int rejectionsLogged = 0;
    for (std::size_t at = log.find(" rejected: status 4, "); at != std::string::npos;
         at = log.find(" rejected: status 4, ", at + 1))
        ++rejectionsLogged;

    std::vector<double> latencies;
    const auto written = watch.written();
    for (const auto& [id, shown] : view.rejectionShown) {
        const auto from = fromSend ? sentAt.find(id) : written.find(id);
        if (from != (fromSend ? sentAt.end() : written.end()))
            latencies.push_back(std::chrono::duration<double, std::milli>(shown - from->second).count());
    }
    std::printf("mode %s: %zu orders in %.1f s; accepted %d, rejected %d, no reply %d, still open %d, untracked %d\n",
                mode.c_str(), sent.size(), sendingSeconds, accepted, rejected, silent, open, unknown);
    std::printf("rejections shown in the panel %zu, logged %d, boxes %d\n", view.rejectionShown.size(),
                rejectionsLogged, messages.shown);
    std::printf("reply to panel (%s), RefreshInterval %d ms: p50 %.1f ms, p99 %.1f ms, max %.1f ms over %zu\n",
                fromSend ? "from the send" : "from the line in quik.tro", session.settings().RefreshInterval,
                percentile(latencies, 0.5), percentile(latencies, 0.99), percentile(latencies, 1.0), latencies.size());
    if (script) {
        std::vector<double> toTerminal;
        {
            std::lock_guard<std::mutex> lock(handedMutex);
            for (const auto& [id, at] : handed)
                if (const auto from = sentAt.find(id); from != sentAt.end())
                    toTerminal.push_back(std::chrono::duration<double, std::milli>(at - from->second).count());
        }
        std::printf("click to sendTransaction: p50 %.1f ms, p99 %.1f ms, max %.1f ms over %zu\n",
                    percentile(toTerminal, 0.5), percentile(toTerminal, 0.99), percentile(toTerminal, 1.0),
                    toTerminal.size());
    }
    stopReading = true;
    reader.join();
    session.DoneAll();
    const bool whole = open == 0 && unknown == 0 && static_cast<int>(view.rejectionShown.size()) == rejected &&
                       rejectionsLogged == rejected;
    return whole ? 0 : 1;
}
