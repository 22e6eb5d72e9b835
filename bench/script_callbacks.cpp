// velmora.lua in the stand-in's Lua host: what each callback costs the terminal's thread, and what
// share of a core its main() takes while one wanted book changes 100 times a second. Built once per
// Lua (script_callbacks_lua54, script_callbacks_lua51); prints a table.
//   script_callbacks [SECONDS]   (the 100-books-a-second part; default 10)
#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "standin/lua_host.h"

namespace {

using namespace std::chrono_literals;
using standin::HostRecord;

double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double processSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// One futures contract with a book of 25 levels a side, which changes on every bookChange().
class BenchTerminal : public standin::HostTerminal {
public:
    std::string workingFolder() const override { return "/tmp"; }
    bool connected() const override { return true; }
    std::optional<standin::Quotes> quotes(const std::string&, const std::string&) const override {
        standin::Quotes quotes;
        for (int i = 0; i < 25; ++i) {
            quotes.bids.push_back({std::to_string(92300 + i), std::to_string(10 + (i + change_) % 40)});
            quotes.offers.push_back({std::to_string(92330 + i), std::to_string(10 + (i * 7 + change_) % 40)});
        }
        return quotes;
    }
    std::optional<HostRecord> securityInfo(const std::string& classCode, const std::string& secCode) const override {
        return HostRecord{{"code", secCode}, {"class_code", classCode}, {"short_name", secCode}, {"scale", 0.0},
                          {"min_price_step", 1.0}, {"lot_size", 1.0}};
    }
    std::vector<std::string> classSecurities(const std::string&) const override { return {"SiZ6"}; }
    std::vector<HostRecord> tableRows(const std::string& name) const override {
        if (name == "trade_accounts")
            return {{{"trdaccid", std::string("DEMO1")}, {"class_codes", std::string("|SPBFUT|")}}};
        return {};
    }
    void transaction(const std::string&) override {}

    void bookChange() { ++change_; }

private:
    int change_ = 0;
};

// The link's reader: takes whatever the script writes, as Velmora would.
class Reader {
public:
    explicit Reader(const std::string& fifo) : fd_(open(fifo.c_str(), O_RDONLY | O_NONBLOCK)) {
        thread_ = std::thread([this] {
            char buffer[65536];
            while (!stop_) {
                const ssize_t got = read(fd_, buffer, sizeof buffer);
                if (got > 0) {
                    bytes_ += static_cast<std::size_t>(got);
                    if (!greeted_ && std::string(buffer, static_cast<std::size_t>(got)).find("velmora-link\t2") != std::string::npos)
                        greeted_ = true;
                } else {
                    std::this_thread::sleep_for(2ms);
                }
            }
        });
    }
    ~Reader() { finish(); }
    void finish() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }
    bool greeted() const { return greeted_; }
    // Its processor time so far.
    double cpuSeconds() {
        clockid_t clock;
        timespec t{};
        if (pthread_getcpuclockid(thread_.native_handle(), &clock) != 0 || clock_gettime(clock, &t) != 0) return 0;
        return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
    }
    std::size_t bytes() const { return bytes_; }

private:
    int fd_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> greeted_{false};
    std::atomic<std::size_t> bytes_{0};
    std::thread thread_;
};

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

struct Figures {
    double meanNs = 0;
    double medianNs = 0;
    double p99Ns = 0;
};

Figures summary(std::vector<double> ns) {
    std::sort(ns.begin(), ns.end());
    double sum = 0;
    for (double v : ns) sum += v;
    return {sum / double(ns.size()), ns[ns.size() / 2], ns[static_cast<std::size_t>(0.99 * double(ns.size() - 1))]};
}

double nsSince(std::chrono::steady_clock::time_point start, std::size_t calls) {
    return double(std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count()) /
           double(calls);
}

// Calls `call` `count` times with the host's lock held, as the terminal's thread would; ns a call.
template <class Call>
double heldCalls(standin::LuaHost& host, std::size_t count, Call call) {
    auto held = host.hold();
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < count; ++i) call(i);
    return nsSince(start, count);
}

HostRecord order(std::size_t i) {
    return {{"order_num", double(5000000 + i)}, {"trans_id", double(i)}, {"flags", 9.0}, {"price", 92310.0},
            {"qty", 1.0}, {"balance", 1.0}, {"class_code", std::string("SPBFUT")},
            {"sec_code", std::string("SiZ6")}, {"account", std::string("DEMO1")}};
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10;
    char folderTemplate[] = "/tmp/velmora-bench-XXXXXX";
    const std::string folder = std::string(mkdtemp(folderTemplate)) + "/";
    const std::string run = "00000000000000f1";
    const std::string fifo = folder + "velmora-1-" + run + ".fifo";
    const std::string commands = folder + "velmora-1-" + run + ".cmd";
    mkfifo(fifo.c_str(), 0600);
    writeText(commands, "velmora-commands\t2\t" + run + "\t1\r\n");
    writeText(folder + "velmora-1.txt", "velmora-link 2\r\nrun=" + run + "\r\nstream=" + fifo +
                                            "\r\nwant=SPBFUT:SiZ6\r\ncommands=" + commands + "\r\n");
    setenv("VELMORA_LINK_FOLDER", folder.c_str(), 1);

    BenchTerminal terminal;
    Reader reader(fifo);
    standin::LuaHost host(terminal);
    host.start(VELMORA_SOURCE_DIR "/lua/velmora.lua");
    for (int i = 0; i < 500 && !reader.greeted(); ++i) std::this_thread::sleep_for(10ms);
    if (!reader.greeted()) {
        std::fprintf(stderr, "script_callbacks: no hello from the script\n");
        return 1;
    }

    // 100 changes a second of the wanted book: each OnQuote queues it, main() sends it.
    const double processBefore = processSeconds(), driverBefore = threadSeconds(), readerBefore = reader.cpuSeconds();
    std::vector<double> wanted;
    const auto start = std::chrono::steady_clock::now();
    auto next = start;
    while (std::chrono::steady_clock::now() - start < std::chrono::duration<double>(seconds)) {
        next += 10ms;
        std::this_thread::sleep_until(next);
        auto held = host.hold();
        terminal.bookChange();
        const auto called = std::chrono::steady_clock::now();
        host.onQuote("SPBFUT", "SiZ6");
        wanted.push_back(nsSince(called, 1));
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Whatever else ran in this process meanwhile was main().
    const double mainShare = (processSeconds() - processBefore - (threadSeconds() - driverBefore) -
                              (reader.cpuSeconds() - readerBefore)) / wall;
    const std::size_t bytes = reader.bytes();

    // Many wanted books changing at once: each OnQuote queues its book, with warm caches.
    std::string many = "SPBFUT:SiZ6";
    std::vector<std::string> tickers;
    for (int i = 0; i < 200; ++i) {
        tickers.push_back("X" + std::to_string(i));
        many += ",SPBFUT:" + tickers.back();
    }
    writeText(folder + "velmora-1.txt.new", "velmora-link 2\r\nrun=" + run + "\r\nstream=" + fifo + "\r\nwant=" + many +
                                                "\r\ncommands=" + commands + "\r\n");
    std::rename((folder + "velmora-1.txt.new").c_str(), (folder + "velmora-1.txt").c_str());
    auto allWanted = [&] {
        auto held = host.hold();
        return host.subscribed("SPBFUT", tickers.back());
    };
    for (int i = 0; i < 500 && !allWanted(); ++i) std::this_thread::sleep_for(10ms);
    std::vector<double> queuedMany;
    for (int batch = 0; batch < 20; ++batch) {
        queuedMany.push_back(heldCalls(host, 200, [&](std::size_t i) { host.onQuote("SPBFUT", tickers[i]); }));
        std::this_thread::sleep_for(30ms);  // main() sends them meanwhile
    }

    // The other callbacks, many at a time.
    const double coalesced = heldCalls(host, 100000, [&](std::size_t) { host.onQuote("SPBFUT", "SiZ6"); });
    const double otherTicker = heldCalls(host, 100000, [&](std::size_t) { host.onQuote("SPBFUT", "RIZ6"); });
    const double otherClass = heldCalls(host, 100000, [&](std::size_t) { host.onQuote("TQBR", "SBER"); });
    std::vector<double> orders;
    for (int batch = 0; batch < 20; ++batch) {
        orders.push_back(heldCalls(host, 500, [&](std::size_t i) { host.onOrder(order(batch * 500 + i)); }));
        std::this_thread::sleep_for(30ms);  // main() drains meanwhile
    }
    host.stop(1);
    reader.finish();

    // The floor: the same host calling an OnQuote that does nothing.
    const std::string empty = folder + "empty.lua";
    writeText(empty, "local stop = false\nfunction OnQuote() end\nfunction OnStop() stop = true return 1000 end\n"
                     "function main() while not stop do sleep(10) end end\n");
    BenchTerminal quiet;
    standin::LuaHost floorHost(quiet);
    floorHost.start(empty);
    const double floor = heldCalls(floorHost, 100000, [&](std::size_t) { floorHost.onQuote("SPBFUT", "RIZ6"); });
    // One call every 10 ms, as above: caches gone cold between calls.
    std::vector<double> coldFloor;
    for (int i = 0; i < 200; ++i) {
        std::this_thread::sleep_for(10ms);
        coldFloor.push_back(heldCalls(floorHost, 1, [&](std::size_t) { floorHost.onQuote("SPBFUT", "RIZ6"); }));
    }
    floorHost.stop(1);

    const Figures w = summary(wanted);
    std::printf("%s, velmora.lua, one slot wanting one 50-level book\n", standin::LuaHost::luaRelease());
    std::printf("  main() at 100 books/s over %.1f s: %.2f %% of one core (%zu bytes written)\n", wall,
                100 * std::max(0.0, mainShare), bytes);
    std::printf("  OnQuote, wanted book, queued:          %8.0f ns median, %8.0f ns p99\n", w.medianNs, w.p99Ns);
    std::printf("  OnQuote, 200 wanted books in a row:    %8.0f ns (median of 20 rows)\n", summary(queuedMany).medianNs);
    std::printf("  OnQuote, wanted book already queued:   %8.0f ns\n", coalesced);
    std::printf("  OnQuote, unwanted ticker:              %8.0f ns\n", otherTicker);
    std::printf("  OnQuote, unwanted class:               %8.0f ns\n", otherClass);
    std::printf("  OnQuote, an empty OnQuote (the floor): %8.0f ns; one every 10 ms: %.0f ns median, %.0f ns p99\n",
                floor, summary(coldFloor).medianNs, summary(coldFloor).p99Ns);
    std::printf("  OnOrder:                               %8.0f ns (median of 20 rows of 500)\n", summary(orders).medianNs);
    std::printf("  (each call: the host's lock held, its arguments pushed, the Lua function called)\n");
    return 0;
}
