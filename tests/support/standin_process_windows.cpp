#include "support/standin_process.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>
#include <thread>

namespace velmora::testing {

namespace {

// One argument as the C runtime splits a command line: quoted when it holds a space, tab or
// quote, with backslashes before a quote doubled.
std::string quoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string text = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        text.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        text += c;
    }
    text.append(backslashes * 2, '\\');
    return text + "\"";
}

// Every program started here ends with the test process, as PR_SET_PDEATHSIG does on Linux.
HANDLE killOnCloseJob() {
    static HANDLE job = [] {
        HANDLE created = CreateJobObjectA(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (created) SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        return created;
    }();
    return job;
}

}  // namespace

void StandinProcess::start(const std::string& session, const std::vector<std::string>& arguments) {
    std::string path = session;
    for (char& c : path)
        if (c == '/') c = '\\';
    std::string commandLine = quoted(path);
    for (const std::string& argument : arguments) commandLine += " " + quoted(argument);

    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    // As roomy as a Linux pipe: a test that reads the output late (book dumps after every order)
    // must not stall the stand-in's main thread, and with it the script it hosts, on a full pipe.
    if (!CreatePipe(&readEnd, &writeEnd, &inherited, 1 << 16))
        throw std::runtime_error("CreatePipe: error " + std::to_string(GetLastError()));
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started{};
    BOOL ok = CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                             &startup, &started);
    DWORD error = GetLastError();
    CloseHandle(writeEnd);
    if (!ok) {
        CloseHandle(readEnd);
        throw std::runtime_error("cannot start " + path + ": error " + std::to_string(error));
    }
    if (HANDLE job = killOnCloseJob()) AssignProcessToJobObject(job, started.hProcess);
    CloseHandle(started.hThread);
    process_ = started.hProcess;
    outputPipe_ = readEnd;
    pid_ = static_cast<pid_t>(started.dwProcessId);
}

std::optional<std::string> StandinProcess::readLine(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        if (!outputPipe_) return std::nullopt;
        DWORD waiting = 0;
        if (!PeekNamedPipe(outputPipe_, nullptr, 0, nullptr, &waiting, nullptr)) {
            // Broken: the program and every copy of its stdout are gone.
            CloseHandle(outputPipe_);
            outputPipe_ = nullptr;
            continue;
        }
        if (waiting == 0) {
            if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        char buffer[4096];
        DWORD got = 0;
        if (ReadFile(outputPipe_, buffer, std::min<DWORD>(waiting, sizeof buffer), &got, nullptr))
            pending_.append(buffer, got);
    }
}

std::optional<int> StandinProcess::waitForExit(std::chrono::milliseconds timeout) {
    if (!process_) return status_;
    if (WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    CloseHandle(process_);
    process_ = nullptr;
    pid_ = -1;
    status_ = static_cast<int>(code);
    return status_;
}

int StandinProcess::stop(std::chrono::milliseconds) {
    // A console program of another console cannot be sent Ctrl+C; nothing here needs a clean end.
    kill();
    if (outputPipe_) {
        CloseHandle(outputPipe_);
        outputPipe_ = nullptr;
    }
    return status_;
}

void StandinProcess::kill() {
    if (!process_) return;
    TerminateProcess(process_, 1);
    waitForExit(std::chrono::seconds(10));
}

}  // namespace velmora::testing
