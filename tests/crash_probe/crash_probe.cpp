// Installs the crash reporter for a folder and fails as its mode says:
//   crash_probe FOLDER null-write | divide-by-zero | stack-overflow | abort | throw | thread-null-write | storm
// or, as a second start would, reports the pending crash report and marks it shown:
//   crash_probe FOLDER pending
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/crash_report_notice.h"
#include "platform/crash_reporter.h"

namespace {

int* volatile nowhere = nullptr;
volatile int zero = 0;

// The sanitizers would stop at the bad write or division themselves; the point is to fault.
[[gnu::noinline, gnu::no_sanitize("undefined")]] void writeThroughNull() { *nowhere = 42; }

[[gnu::noinline, gnu::no_sanitize("undefined")]] int divideByZero() { return 42 / zero; }

[[gnu::noinline]] int recurseForever(int depth) {
    volatile char frame[512];
    frame[depth % sizeof frame] = static_cast<char>(depth);
    if (zero == 1) return depth;
    return recurseForever(depth + 1) + frame[0];
}

[[gnu::noinline]] void throwUncaught() { throw std::runtime_error("order book vanished"); }

void faultOnThreads(int count) {
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&ready, count] {
            ++ready;
            while (ready.load() < count) {
            }
            writeThroughNull();
        });
    for (std::thread& thread : threads) thread.join();
}

int showPending(const std::string& folder) {
    auto report = velmora::takePendingCrashReport(folder);
    if (!report) {
        std::puts("pending: none");
        return 0;
    }
    velmora::markCrashReportShown(folder, *report);
    std::printf("pending: %s at %04d-%02d-%02d %02d:%02d:%02d\n", report->path.c_str(), report->crashTime.year,
                report->crashTime.month, report->crashTime.day, report->crashTime.hour,
                report->crashTime.minute, report->crashTime.second);
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fputs("usage: crash_probe FOLDER MODE\n", stderr);
        return 2;
    }
    const std::string folder = argv[1];
    const std::string mode = argv[2];
    if (mode == "pending") return showPending(folder);

    velmora::installCrashReporter({folder, VELMORA_VERSION});
    if (mode == "null-write") writeThroughNull();
    if (mode == "divide-by-zero") return divideByZero();
    if (mode == "stack-overflow") return recurseForever(0);
    if (mode == "abort") std::abort();
    if (mode == "throw") throwUncaught();
    if (mode == "thread-null-write") faultOnThreads(1);
    if (mode == "storm") faultOnThreads(4);
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
}
