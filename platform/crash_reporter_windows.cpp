#include <windows.h>
// After windows.h, which they need.
#include <dbghelp.h>
#include <tlhelp32.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "platform/crash_report_writer.h"
#include "platform/crash_reporter.h"

// The report is written by a thread of the reporter's own, started at install: the faulting thread may
// have no stack left (a stack overflow), and dbghelp wants to walk and dump a thread other than its
// caller. The faulting thread hands its exception over and waits, bounded, then ends the process with
// the exception's code. Nothing here allocates once a crash has begun.

namespace velmora {

namespace {

// abort() and std::terminate become this exception, so that they are reported like a fault; the process
// then ends with the runtime's own abort code.
constexpr DWORD AbortExceptionCode = 0xE0564D41;
constexpr UINT AbortExitCode = 3;
constexpr DWORD ReportTimeoutMilliseconds = 30000;
constexpr int MaxFrames = 64;

using MiniDumpWriteDumpFunction = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                                PMINIDUMP_EXCEPTION_INFORMATION, PMINIDUMP_USER_STREAM_INFORMATION,
                                                PMINIDUMP_CALLBACK_INFORMATION);
using SymInitializeFunction = BOOL(WINAPI*)(HANDLE, PCSTR, BOOL);
using StackWalk64Function = BOOL(WINAPI*)(DWORD, HANDLE, HANDLE, LPSTACKFRAME64, PVOID, PREAD_PROCESS_MEMORY_ROUTINE64,
                                          PFUNCTION_TABLE_ACCESS_ROUTINE64, PGET_MODULE_BASE_ROUTINE64,
                                          PTRANSLATE_ADDRESS_ROUTINE64);

struct DbgHelp {
    MiniDumpWriteDumpFunction miniDumpWriteDump = nullptr;
    SymInitializeFunction symInitialize = nullptr;
    StackWalk64Function stackWalk64 = nullptr;
    PFUNCTION_TABLE_ACCESS_ROUTINE64 functionTableAccess = nullptr;
    PGET_MODULE_BASE_ROUTINE64 getModuleBase = nullptr;
};

char textPath[MAX_PATH * 2];
char dumpPath[MAX_PATH * 2];
char versionText[128];
char exceptionText[2048];  // filled by the terminate handler before it aborts
DbgHelp dbgHelp;

volatile LONG reportStarted = 0;
EXCEPTION_POINTERS* crashPointers = nullptr;
DWORD crashThreadId = 0;
HANDLE crashThread = nullptr;
HANDLE reportRequested = nullptr;
HANDLE reportWritten = nullptr;
DWORD reporterThreadId = 0;

template <typename Function>
Function procedure(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

bool writeToHandle(void* file, const char* bytes, std::size_t count) {
    DWORD written = 0;
    return WriteFile(static_cast<HANDLE>(file), bytes, static_cast<DWORD>(count), &written, nullptr) &&
           written == count;
}

const char* exceptionName(DWORD code) {
    switch (code) {
        case EXCEPTION_ACCESS_VIOLATION: return "EXCEPTION_ACCESS_VIOLATION";
        case EXCEPTION_ARRAY_BOUNDS_EXCEEDED: return "EXCEPTION_ARRAY_BOUNDS_EXCEEDED";
        case EXCEPTION_BREAKPOINT: return "EXCEPTION_BREAKPOINT";
        case EXCEPTION_DATATYPE_MISALIGNMENT: return "EXCEPTION_DATATYPE_MISALIGNMENT";
        case EXCEPTION_FLT_DENORMAL_OPERAND: return "EXCEPTION_FLT_DENORMAL_OPERAND";
        case EXCEPTION_FLT_DIVIDE_BY_ZERO: return "EXCEPTION_FLT_DIVIDE_BY_ZERO";
        case EXCEPTION_FLT_INEXACT_RESULT: return "EXCEPTION_FLT_INEXACT_RESULT";
        case EXCEPTION_FLT_INVALID_OPERATION: return "EXCEPTION_FLT_INVALID_OPERATION";
        case EXCEPTION_FLT_OVERFLOW: return "EXCEPTION_FLT_OVERFLOW";
        case EXCEPTION_FLT_STACK_CHECK: return "EXCEPTION_FLT_STACK_CHECK";
        case EXCEPTION_FLT_UNDERFLOW: return "EXCEPTION_FLT_UNDERFLOW";
        case EXCEPTION_ILLEGAL_INSTRUCTION: return "EXCEPTION_ILLEGAL_INSTRUCTION";
        case EXCEPTION_IN_PAGE_ERROR: return "EXCEPTION_IN_PAGE_ERROR";
        case EXCEPTION_INT_DIVIDE_BY_ZERO: return "EXCEPTION_INT_DIVIDE_BY_ZERO";
        case EXCEPTION_INT_OVERFLOW: return "EXCEPTION_INT_OVERFLOW";
        case EXCEPTION_INVALID_DISPOSITION: return "EXCEPTION_INVALID_DISPOSITION";
        case EXCEPTION_NONCONTINUABLE_EXCEPTION: return "EXCEPTION_NONCONTINUABLE_EXCEPTION";
        case EXCEPTION_PRIV_INSTRUCTION: return "EXCEPTION_PRIV_INSTRUCTION";
        case EXCEPTION_SINGLE_STEP: return "EXCEPTION_SINGLE_STEP";
        case EXCEPTION_STACK_OVERFLOW: return "EXCEPTION_STACK_OVERFLOW";
        case 0xC0000374: return "STATUS_HEAP_CORRUPTION";
        case 0xC0000409: return "STATUS_STACK_BUFFER_OVERRUN";
        case 0xE06D7363: return "Microsoft C++ exception";
        case 0x20474343: return "GCC C++ exception";
        case AbortExceptionCode: return "abort (std::terminate or abort())";
        default: return "unknown exception";
    }
}

// "C:\path\module.dll+0x1234", or the bare address outside every module.
void writeAddress(CrashReportWriter& out, std::uintptr_t address) {
    out.hex(address);
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(address), &module) ||
        !module)
        return;
    char name[MAX_PATH];
    DWORD length = GetModuleFileNameA(module, name, sizeof name);
    if (length == 0 || length >= sizeof name) return;
    name[length] = '\0';
    out.text(" ").text(name).text("+").hex(address - reinterpret_cast<std::uintptr_t>(module), 1);
}

void writeTime(CrashReportWriter& out) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    out.text("Time: ").dateTime(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond).line();
}

void writeException(CrashReportWriter& out, const EXCEPTION_RECORD& record) {
    out.text("Exception: ").hex(record.ExceptionCode, 8).text(" ").line(exceptionName(record.ExceptionCode));
    if (exceptionText[0]) out.text("C++ exception: ").line(exceptionText);
    if ((record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION || record.ExceptionCode == EXCEPTION_IN_PAGE_ERROR) &&
        record.NumberParameters >= 2) {
        ULONG_PTR kind = record.ExceptionInformation[0];
        out.text("Access: ").text(kind == 0 ? "read of " : kind == 8 ? "execution at " : "write to ");
        out.hex(record.ExceptionInformation[1]).line();
    }
    out.text("Fault address: ");
    writeAddress(out, reinterpret_cast<std::uintptr_t>(record.ExceptionAddress));
    out.line();
}

void writeRegisters(CrashReportWriter& out, const CONTEXT& context) {
    struct Named {
        const char* name;
        unsigned long long value;
    };
#if defined(_M_X64) || defined(__x86_64__)
    const Named registers[] = {
        {"RIP", context.Rip}, {"RSP", context.Rsp}, {"RBP", context.Rbp}, {"EFL", context.EFlags},
        {"RAX", context.Rax}, {"RBX", context.Rbx}, {"RCX", context.Rcx}, {"RDX", context.Rdx},
        {"RSI", context.Rsi}, {"RDI", context.Rdi}, {"R8 ", context.R8},  {"R9 ", context.R9},
        {"R10", context.R10}, {"R11", context.R11}, {"R12", context.R12}, {"R13", context.R13},
        {"R14", context.R14}, {"R15", context.R15}};
#else
    const Named registers[] = {
        {"EIP", context.Eip}, {"ESP", context.Esp}, {"EBP", context.Ebp}, {"EFL", context.EFlags},
        {"EAX", context.Eax}, {"EBX", context.Ebx}, {"ECX", context.Ecx}, {"EDX", context.Edx},
        {"ESI", context.Esi}, {"EDI", context.Edi}, {"CS ", context.SegCs}, {"SS ", context.SegSs}};
#endif
    out.line("Registers:");
    int column = 0;
    for (const Named& reg : registers) {
        out.text("  ").text(reg.name).text("=").hex(reg.value);
        if (++column % 4 == 0) out.line();
    }
    if (column % 4 != 0) out.line();
}

void writeModules(CrashReportWriter& out) {
    out.line("Modules:");
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, GetCurrentProcessId());
    if (snapshot == INVALID_HANDLE_VALUE) return;
    MODULEENTRY32 module{};
    module.dwSize = sizeof module;
    for (BOOL more = Module32First(snapshot, &module); more; more = Module32Next(snapshot, &module)) {
        auto base = reinterpret_cast<std::uintptr_t>(module.modBaseAddr);
        out.text("  ").hex(base).text("-").hex(base + module.modBaseSize).text(" ").line(module.szExePath);
    }
    CloseHandle(snapshot);
}

// Frame pointers, where dbghelp cannot walk: each frame holds the caller's frame pointer and then the
// return address, and every frame lies higher on the faulting thread's stack than the one before.
int walkFramePointers(CrashReportWriter& out, std::uintptr_t framePointer, std::uintptr_t stackLow,
                      std::uintptr_t stackHigh, int number) {
    for (; number < MaxFrames; ++number) {
        if (framePointer < stackLow || framePointer + 2 * sizeof(void*) > stackHigh ||
            framePointer % sizeof(void*) != 0)
            break;
        const auto* slots = reinterpret_cast<const std::uintptr_t*>(framePointer);
        std::uintptr_t returnAddress = slots[1];
        if (returnAddress == 0) break;
        out.text("  #").padded(number, 2).text(" ");
        writeAddress(out, returnAddress);
        out.line();
        if (slots[0] <= framePointer) break;
        framePointer = slots[0];
    }
    return number;
}

void writeStack(CrashReportWriter& out, const CONTEXT& faultContext, std::uintptr_t stackLow, std::uintptr_t stackHigh) {
    CONTEXT context = faultContext;  // the walk changes it
    STACKFRAME64 frame{};
#if defined(_M_X64) || defined(__x86_64__)
    const DWORD machine = IMAGE_FILE_MACHINE_AMD64;
    frame.AddrPC.Offset = context.Rip;
    frame.AddrFrame.Offset = context.Rbp;
    frame.AddrStack.Offset = context.Rsp;
    const std::uintptr_t framePointer = context.Rbp;
#else
    const DWORD machine = IMAGE_FILE_MACHINE_I386;
    frame.AddrPC.Offset = context.Eip;
    frame.AddrFrame.Offset = context.Ebp;
    frame.AddrStack.Offset = context.Esp;
    const std::uintptr_t framePointer = context.Ebp;
#endif
    frame.AddrPC.Mode = frame.AddrFrame.Mode = frame.AddrStack.Mode = AddrModeFlat;

    int walked = 0;
    if (dbgHelp.stackWalk64 && crashThread) {
        out.line("Stack of the faulting thread (walked by dbghelp):");
        while (walked < MaxFrames &&
               dbgHelp.stackWalk64(machine, GetCurrentProcess(), crashThread, &frame, &context, nullptr,
                                   dbgHelp.functionTableAccess, dbgHelp.getModuleBase, nullptr) &&
               frame.AddrPC.Offset != 0) {
            out.text("  #").padded(walked, 2).text(" ");
            writeAddress(out, static_cast<std::uintptr_t>(frame.AddrPC.Offset));
            out.line();
            ++walked;
        }
    }
    // One frame is only where it faulted: walk the frame pointers for the callers.
    if (walked <= 1) {
        out.line("Stack of the faulting thread (walked by frame pointers):");
        out.text("  #00 ");
        writeAddress(out, static_cast<std::uintptr_t>(frame.AddrPC.Offset ? frame.AddrPC.Offset : 0));
        out.line();
        walkFramePointers(out, framePointer, stackLow, stackHigh, 1);
    }
}

void writeTextReport(const EXCEPTION_POINTERS& pointers, std::uintptr_t stackLow, std::uintptr_t stackHigh) {
    HANDLE file = CreateFileA(textPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;  // an unwritable folder: no report, the process still ends
    {
        CrashReportWriter out(writeToHandle, file);
        out.line("Velmora crash report");
        out.text("Version: ").line(versionText);
        writeTime(out);
        out.text("Process: ").decimal(GetCurrentProcessId()).text(", thread ").decimal(crashThreadId).line();
        writeException(out, *pointers.ExceptionRecord);
        writeRegisters(out, *pointers.ContextRecord);
        out.flush();
        writeStack(out, *pointers.ContextRecord, stackLow, stackHigh);
        writeModules(out);
    }
    FlushFileBuffers(file);
    CloseHandle(file);
}

void writeMinidump(EXCEPTION_POINTERS* pointers) {
    if (!dbgHelp.miniDumpWriteDump) return;  // no dbghelp.dll: only the dump is lost
    HANDLE file = CreateFileA(dumpPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    MINIDUMP_EXCEPTION_INFORMATION exception{};
    exception.ThreadId = crashThreadId;
    exception.ExceptionPointers = pointers;
    exception.ClientPointers = FALSE;
    dbgHelp.miniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal, &exception, nullptr,
                              nullptr);
    CloseHandle(file);
}

// The faulting thread's stack bounds, taken while it waits.
std::uintptr_t crashStackLow = 0;
std::uintptr_t crashStackHigh = 0;

HANDLE installingThread = nullptr;

DWORD WINAPI reporterThread(LPVOID) {
    // Should the thread that installed the reporter be ended without the process (Wine does so when a
    // stack overflow leaves no room to raise it), this thread must not be what keeps the process alive.
    HANDLE waits[] = {reportRequested, installingThread};
    if (WaitForMultipleObjects(installingThread ? 2 : 1, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        DWORD exitCode = 0;  // the process ends with the code its last thread leaves
        GetExitCodeThread(installingThread, &exitCode);
        return exitCode;
    }
    writeTextReport(*crashPointers, crashStackLow, crashStackHigh);
    writeMinidump(crashPointers);
    SetEvent(reportWritten);
    return 0;
}

UINT exitCodeFor(DWORD exceptionCode) { return exceptionCode == AbortExceptionCode ? AbortExitCode : exceptionCode; }

LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* pointers) {
    // The reporter itself failed: leave it to the system.
    if (GetCurrentThreadId() == reporterThreadId) return EXCEPTION_CONTINUE_SEARCH;
    if (InterlockedCompareExchange(&reportStarted, 1, 0) != 0) {
        // Another thread reports this run's one crash and then ends the process; wait for that, bounded.
        Sleep(ReportTimeoutMilliseconds);
        return EXCEPTION_CONTINUE_SEARCH;
    }
    const UINT exitCode = exitCodeFor(pointers->ExceptionRecord->ExceptionCode);
    if (!reportRequested || !reportWritten) TerminateProcess(GetCurrentProcess(), exitCode);
    crashPointers = pointers;
    crashThreadId = GetCurrentThreadId();
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &crashThread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    // The stack's reservation starts at its allocation base; the committed part we stand on runs to its top.
    MEMORY_BASIC_INFORMATION stack{};
    if (VirtualQuery(&stack, &stack, sizeof stack) != 0) {
        crashStackLow = reinterpret_cast<std::uintptr_t>(stack.AllocationBase);
        crashStackHigh = reinterpret_cast<std::uintptr_t>(stack.BaseAddress) + stack.RegionSize;
    }
    SetEvent(reportRequested);
    WaitForSingleObject(reportWritten, ReportTimeoutMilliseconds);
    TerminateProcess(GetCurrentProcess(), exitCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

void onAbortSignal(int) { RaiseException(AbortExceptionCode, EXCEPTION_NONCONTINUABLE, 0, nullptr); }

[[noreturn]] void onTerminate() {
    describeCurrentException(exceptionText, sizeof exceptionText);
    std::abort();
}

void copyInto(char* target, std::size_t capacity, const std::string& value) {
    std::size_t length = value.size() < capacity - 1 ? value.size() : capacity - 1;
    std::memcpy(target, value.data(), length);
    target[length] = '\0';
}

void loadDbgHelp() {
    HMODULE library = LoadLibraryA("dbghelp.dll");
    if (!library) return;
    dbgHelp.miniDumpWriteDump = procedure<MiniDumpWriteDumpFunction>(library, "MiniDumpWriteDump");
    dbgHelp.symInitialize = procedure<SymInitializeFunction>(library, "SymInitialize");
    dbgHelp.stackWalk64 = procedure<StackWalk64Function>(library, "StackWalk64");
    dbgHelp.functionTableAccess = procedure<PFUNCTION_TABLE_ACCESS_ROUTINE64>(library, "SymFunctionTableAccess64");
    dbgHelp.getModuleBase = procedure<PGET_MODULE_BASE_ROUTINE64>(library, "SymGetModuleBase64");
    // The walk needs the module list; without it the frame pointers still give a stack.
    if (!dbgHelp.symInitialize || !dbgHelp.functionTableAccess || !dbgHelp.getModuleBase ||
        !dbgHelp.symInitialize(GetCurrentProcess(), nullptr, TRUE))
        dbgHelp.stackWalk64 = nullptr;
}

}  // namespace

void installCrashReporter(const CrashReporterSettings& settings) {
    SYSTEMTIME started{};
    GetLocalTime(&started);
    char stamp[32];
    {
        struct ToBuffer {
            char* at;
            static bool write(void* self, const char* bytes, std::size_t count) {
                auto* buffer = static_cast<ToBuffer*>(self);
                std::memcpy(buffer->at, bytes, count);
                buffer->at += count;
                return true;
            }
        } buffer{stamp};
        CrashReportWriter out(ToBuffer::write, &buffer);
        out.padded(started.wYear, 4).padded(started.wMonth, 2).padded(started.wDay, 2).text("-");
        out.padded(started.wHour, 2).padded(started.wMinute, 2).padded(started.wSecond, 2).flush();
        *buffer.at = '\0';
    }
    const std::string base = settings.folder + CrashReportPrefix + stamp;
    copyInto(textPath, sizeof textPath, base + ".txt");
    copyInto(dumpPath, sizeof dumpPath, base + ".dmp");
    copyInto(versionText, sizeof versionText, settings.programVersion);

    loadDbgHelp();
    reportRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    reportWritten = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &installingThread,
                    SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, 0);
    // The reporter's stack must hold dbghelp's walk and dump.
    HANDLE reporter = CreateThread(nullptr, 256 * 1024, reporterThread, nullptr, 0, &reporterThreadId);
    if (reporter) CloseHandle(reporter);

    SetUnhandledExceptionFilter(onUnhandledException);
    std::signal(SIGABRT, onAbortSignal);
    std::set_terminate(onTerminate);
}

std::string crashReportPath() { return textPath; }

}  // namespace velmora
