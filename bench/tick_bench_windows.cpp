// The tick against a live terminal on Windows: the refresh tick over the stand-in's shown book, read
// through ReadProcessMemory, beside the floor of the same bytes in one call. Google Benchmark is
// not built for Windows here, so this times each call itself and prints the median and p99.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <vector>

#include "core/session.h"
#include "ladder/ladder_refresh.h"
#include "platform/clock.h"
#include "secs/security_list.h"
#include "support/fake_view.h"
#include "support/fakes.h"
#include "support/standin_process.h"

namespace velmora {
namespace {

template <typename Call>
void report(const char* name, Call call) {
    constexpr int rounds = 20000;
    std::vector<double> micros;
    micros.reserve(rounds);
    for (int i = 0; i < rounds; ++i) {
        auto start = std::chrono::steady_clock::now();
        call();
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(micros.begin(), micros.end());
    std::printf("%-34s median %8.2f us   p99 %8.2f us\n", name, micros[rounds / 2], micros[rounds * 99 / 100]);
}

int run() {
    testing::TempFolder quik, app;
    testing::StandinProcess terminal(testing::StandinProcess::serving(
        quik.path(), {"--static", "--write-ini", app.file("Velmora.ini"), "--ini-quik-path", quik.path()}));
    testing::OnlyProcess processes(makeSystemProcessAccess(), static_cast<std::uint32_t>(terminal.pid()));
    auto clock = makeSystemClock();
    auto locale = makeSystemLocaleFormats();
    testing::RecordingMessageSink messages;
    testing::FakeTransLibrary library;
    testing::FakeView view;
    Session session(Platform{processes, *clock, *locale, messages, library}, SessionOptions{app.path()});
    session.InitAll(view);
    session.RefreshTick(view);
    if (!session.instrumentChosen() || session.shownBook()->Count() == 0) {
        std::fprintf(stderr, "tick_bench_windows: the stand-in's book was not read\n");
        return 1;
    }
    const TQuoteTable& table = *session.shownBook();
    const std::size_t levels = static_cast<std::size_t>(table.Count());
    std::printf("live stand-in under this system, %zu levels of %s\n", levels, session.shownInstrument()->Ticker.c_str());

    report("the refresh tick of the live book", [&] { session.RefreshTick(view); });
    std::vector<std::uint8_t> bytes(16 + levels * (4 + 36));
    report("floor: the same bytes in one read", [&] {
        session.terminal().process()->read(table.RecordAddress, bytes.data(), bytes.size());
    });
    return 0;
}

}  // namespace
}  // namespace velmora

int main() {
    try {
        return velmora::run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tick_bench_windows: %s\n", error.what());
        return 1;
    }
}
