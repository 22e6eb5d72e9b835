#include <windows.h>

#include <cstdio>

#include "system.h"

namespace standin {

namespace {

// One argument as the C runtime's parser reads it back: quoted when needed, backslashes
// before a quote doubled.
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

}  // namespace

int superviseRestarts(const std::vector<std::string>& arguments, const volatile std::sig_atomic_t& stop) {
    char program[MAX_PATH * 4];
    DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
    if (length == 0 || length >= sizeof program) return 1;
    std::string commandLine = quoted(program);
    for (const std::string& argument : arguments) {
        commandLine += ' ';
        commandLine += quoted(argument);
    }

    // A child must not outlive a supervisor that was killed: closing the job's last handle
    // ends every process in it.
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job) SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);

    int result = 0;
    while (!stop) {
        std::fflush(stdout);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        std::string line = commandLine;
        if (!CreateProcessA(program, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr,
                            &startup, &child)) {
            std::fprintf(stderr, "info.exe: cannot start the terminal: error %lu\n", GetLastError());
            result = 1;
            break;
        }
        if (job) AssignProcessToJobObject(job, child.hProcess);
        ResumeThread(child.hThread);
        CloseHandle(child.hThread);
        // Polled rather than blocked on, so a stop that comes at any moment is passed on.
        while (WaitForSingleObject(child.hProcess, 20) == WAIT_TIMEOUT)
            if (stop) TerminateProcess(child.hProcess, 0);
        DWORD status = 0;
        GetExitCodeProcess(child.hProcess, &status);
        CloseHandle(child.hProcess);
        if (stop) break;
        if (status != 0) {
            std::fprintf(stderr, "info.exe: the terminal ended with status %lu; not restarting\n", status);
            result = 1;
            break;
        }
    }
    if (job) CloseHandle(job);
    return result;
}

}  // namespace standin
