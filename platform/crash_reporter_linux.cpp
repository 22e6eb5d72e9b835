#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/ucontext.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>

#include "platform/crash_report_writer.h"
#include "platform/crash_reporter.h"

// Everything below that runs inside the signal handler uses only async-signal-safe calls (open, write,
// read, close, clock_gettime, sigaction, raise, alarm, nanosleep) on buffers prepared at install: no
// malloc, no stdio, numbers formatted by hand. Two exceptions: backtrace() loads libgcc on its first call,
// so install calls it once, after which it only walks the stack; it and dladdr() take the loader's lock,
// so a crash inside the loader could block them, which the watchdog bounds.

namespace velmora {

namespace {

constexpr int HandledSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
// Writing the report may hang (a crash inside the loader's lock, a stuck disk): the watchdog then ends
// the process by the original signal.
constexpr unsigned WatchdogSeconds = 10;
constexpr int MaxFrames = 64;

char reportPath[4096];
char versionText[128];
char exceptionText[2048];  // filled by the terminate handler before it aborts
long utcOffsetSeconds = 0;
alignas(16) char alternateStack[128 * 1024];

std::atomic<bool> reportStarted{false};
volatile sig_atomic_t signalBeingReported = 0;

bool writeToDescriptor(void* file, const char* bytes, std::size_t count) {
    int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(file));
    while (count > 0) {
        ssize_t written = ::write(fd, bytes, count);
        if (written <= 0) return false;
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

const char* signalName(int signal) {
    switch (signal) {
        case SIGSEGV: return "SIGSEGV";
        case SIGBUS: return "SIGBUS";
        case SIGILL: return "SIGILL";
        case SIGFPE: return "SIGFPE";
        case SIGABRT: return "SIGABRT";
        default: return "signal";
    }
}

const char* signalCodeName(int signal, int code) {
    switch (code) {
        case SI_USER: return "SI_USER (sent by kill)";
        case SI_TKILL: return "SI_TKILL (raised by the process)";
        case SI_QUEUE: return "SI_QUEUE";
        default: break;
    }
    if (signal == SIGSEGV) {
        if (code == SEGV_MAPERR) return "SEGV_MAPERR (address not mapped)";
        if (code == SEGV_ACCERR) return "SEGV_ACCERR (no permission)";
    } else if (signal == SIGBUS) {
        if (code == BUS_ADRALN) return "BUS_ADRALN";
        if (code == BUS_ADRERR) return "BUS_ADRERR";
        if (code == BUS_OBJERR) return "BUS_OBJERR";
    } else if (signal == SIGILL) {
        if (code == ILL_ILLOPC) return "ILL_ILLOPC";
        if (code == ILL_PRVOPC) return "ILL_PRVOPC";
        if (code == ILL_ILLOPN) return "ILL_ILLOPN";
    } else if (signal == SIGFPE) {
        if (code == FPE_INTDIV) return "FPE_INTDIV (integer divide by zero)";
        if (code == FPE_INTOVF) return "FPE_INTOVF";
        if (code == FPE_FLTDIV) return "FPE_FLTDIV";
    }
    return "";
}

void writeTime(CrashReportWriter& out) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    long long local = static_cast<long long>(now.tv_sec) + utcOffsetSeconds;
    long long days = local / 86400;
    long long secondOfDay = local % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        --days;
    }
    // Civil date from days since 1970-01-01, without localtime and its locks.
    days += 719468;
    long long era = (days >= 0 ? days : days - 146096) / 146097;
    long long dayOfEra = days - era * 146097;
    long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    long long monthIndex = (5 * dayOfYear + 2) / 153;
    int day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    int month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    int year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
    out.text("Time: ").dateTime(year, month, day, static_cast<int>(secondOfDay / 3600),
                                static_cast<int>(secondOfDay / 60 % 60), static_cast<int>(secondOfDay % 60));
    long offsetMinutes = utcOffsetSeconds / 60;
    out.text(offsetMinutes < 0 ? " (UTC-" : " (UTC+");
    if (offsetMinutes < 0) offsetMinutes = -offsetMinutes;
    out.padded(offsetMinutes / 60, 2).text(":").padded(offsetMinutes % 60, 2).line(")");
}

void writeRegisters(CrashReportWriter& out, const void* context) {
    out.line("Registers:");
    if (!context) return;
    const mcontext_t& machine = static_cast<const ucontext_t*>(context)->uc_mcontext;
    struct Named {
        const char* name;
        int index;
    };
#if defined(__x86_64__)
    static constexpr Named registers[] = {
        {"RIP", REG_RIP}, {"RSP", REG_RSP}, {"RBP", REG_RBP}, {"EFL", REG_EFL}, {"RAX", REG_RAX},
        {"RBX", REG_RBX}, {"RCX", REG_RCX}, {"RDX", REG_RDX}, {"RSI", REG_RSI}, {"RDI", REG_RDI},
        {"R8 ", REG_R8},  {"R9 ", REG_R9},  {"R10", REG_R10}, {"R11", REG_R11}, {"R12", REG_R12},
        {"R13", REG_R13}, {"R14", REG_R14}, {"R15", REG_R15}};
#elif defined(__i386__)
    static constexpr Named registers[] = {
        {"EIP", REG_EIP}, {"ESP", REG_ESP}, {"EBP", REG_EBP}, {"EFL", REG_EFL}, {"EAX", REG_EAX},
        {"EBX", REG_EBX}, {"ECX", REG_ECX}, {"EDX", REG_EDX}, {"ESI", REG_ESI}, {"EDI", REG_EDI}};
#else
    static constexpr Named registers[] = {{"", -1}};
    out.line("  (not recorded on this processor)");
#endif
    int column = 0;
    for (const Named& reg : registers) {
        if (reg.index < 0) break;
        out.text("  ").text(reg.name).text("=");
        out.hex(static_cast<std::uintptr_t>(machine.gregs[reg.index]));
        if (++column % 4 == 0) out.line();
    }
    if (column % 4 != 0) out.line();
}

void writeBacktrace(CrashReportWriter& out) {
    out.line("Backtrace of the faulting thread (this handler first):");
    void* frames[MaxFrames];
    int count = backtrace(frames, MaxFrames);
    for (int i = 0; i < count; ++i) {
        auto address = reinterpret_cast<std::uintptr_t>(frames[i]);
        out.text("  #").padded(i, 2).text(" ").hex(address);
        Dl_info where{};
        if (dladdr(frames[i], &where) != 0 && where.dli_fname) {
            out.text(" ").text(where.dli_fname[0] ? where.dli_fname : "(program)").text("+");
            out.hex(address - reinterpret_cast<std::uintptr_t>(where.dli_fbase), 1);
            if (where.dli_sname) {
                out.text(" ").text(where.dli_sname).text("+");
                out.hex(address - reinterpret_cast<std::uintptr_t>(where.dli_saddr), 1);
            }
        }
        out.line();
    }
}

void copyFile(CrashReportWriter& out, const char* path) {
    int source = ::open(path, O_RDONLY | O_CLOEXEC);
    if (source < 0) return;
    char chunk[4096];
    for (;;) {
        ssize_t count = ::read(source, chunk, sizeof chunk);
        if (count <= 0) break;
        out.raw(chunk, static_cast<std::size_t>(count));
    }
    ::close(source);
}

void writeReport(int signal, const siginfo_t* info, const void* context) {
    int fd = ::open(reportPath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return;  // an unwritable folder: no report, the process still ends by its signal
    {
        CrashReportWriter out(writeToDescriptor, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)));
        out.line("Velmora crash report");
        out.text("Version: ").line(versionText);
        writeTime(out);
        out.text("Process: ").decimal(getpid()).text(", thread ").decimal(syscall(SYS_gettid)).line();
        out.text("Signal: ").decimal(signal).text(" ").text(signalName(signal));
        if (info) out.text(", code ").decimal(info->si_code).text(" ").text(signalCodeName(signal, info->si_code));
        out.line();
        // Only a fault raised by the processor has an address; for kill() the field holds the sender.
        if (info && info->si_code > 0)
            out.text("Fault address: ").hex(reinterpret_cast<std::uintptr_t>(info->si_addr)).line();
        if (exceptionText[0]) out.text("Exception: ").line(exceptionText);
        writeRegisters(out, context);
        writeBacktrace(out);
        out.line("Memory map (/proc/self/maps):");
        copyFile(out, "/proc/self/maps");
    }
    ::fsync(fd);
    ::close(fd);
}

// The default action, so that the exit status and any core dump are as without the handler. The signal
// stays blocked until the handler returns, then it takes the process with the faulting context restored.
void endBySignal(int signal) {
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    sigaction(signal, &defaultAction, nullptr);
    raise(signal);
}

void onWatchdog(int) {
    int signal = signalBeingReported;
    endBySignal(signal);
    sigset_t unblocked;
    sigemptyset(&unblocked);
    sigaddset(&unblocked, signal);
    pthread_sigmask(SIG_UNBLOCK, &unblocked, nullptr);
}

void onFatalSignal(int signal, siginfo_t* info, void* context) {
    bool expected = false;
    if (!reportStarted.compare_exchange_strong(expected, true)) {
        // Another thread writes this run's one report and then ends the process; wait for that, bounded.
        for (unsigned tenth = 0; tenth < WatchdogSeconds * 10; ++tenth) {
            timespec pause{0, 100'000'000};
            nanosleep(&pause, nullptr);
        }
        endBySignal(signal);
        return;
    }
    signalBeingReported = signal;
    struct sigaction watchdog {};
    watchdog.sa_handler = onWatchdog;
    sigemptyset(&watchdog.sa_mask);
    sigaction(SIGALRM, &watchdog, nullptr);
    alarm(WatchdogSeconds);
    writeReport(signal, info, context);
    alarm(0);
    endBySignal(signal);
}

[[noreturn]] void onTerminate() {
    describeCurrentException(exceptionText, sizeof exceptionText);
    std::abort();
}

void copyInto(char* target, std::size_t capacity, const std::string& value) {
    std::size_t length = value.size() < capacity - 1 ? value.size() : capacity - 1;
    std::memcpy(target, value.data(), length);
    target[length] = '\0';
}

}  // namespace

void installCrashReporter(const CrashReporterSettings& settings) {
    std::time_t started = std::time(nullptr);
    std::tm local{};
    localtime_r(&started, &local);
    utcOffsetSeconds = local.tm_gmtoff;
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    copyInto(reportPath, sizeof reportPath, settings.folder + CrashReportPrefix + stamp + ".txt");
    copyInto(versionText, sizeof versionText, settings.programVersion);

    void* preload[1];
    backtrace(preload, 1);

    // The alternate stack serves this thread, whose stack may be the one that overflowed.
    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof alternateStack;
    sigaltstack(&stack, nullptr);

    struct sigaction action {};
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : HandledSignals) sigaction(signal, &action, nullptr);

    std::set_terminate(onTerminate);
}

std::string crashReportPath() { return reportPath; }

}  // namespace velmora
