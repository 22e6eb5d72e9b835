#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cctype>
#include <cstdlib>
#include <optional>
#include <sstream>

#include "platform/process_access.h"

namespace velmora {

namespace {

// Empty when the file cannot be read. Plain reads: a process that ends between the opening and
// the reading makes the read fail, which a stream would raise as an exception.
std::string readSmallFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) text.clear();
        if (got <= 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

std::string fileNameOf(const std::string& path) {
    std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isWindowsPath(const std::string& path) {
    bool drive = path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
                 (path[2] == '\\' || path[2] == '/');
    return drive || path.find('\\') != std::string::npos;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// The name a process was started as. The kernel keeps only 15 characters of it,
// so a longer file name is recovered from the executable or the first argument.
// A program run under Wine is named by its Windows path, not by the loader.
std::string executableName(const std::string& processFolder) {
    std::string command = readSmallFile(processFolder + "/comm");
    if (!command.empty() && command.back() == '\n') command.pop_back();

    std::string arguments = readSmallFile(processFolder + "/cmdline");
    std::string firstArgument = arguments.substr(0, arguments.find('\0'));
    if (isWindowsPath(firstArgument)) return fileNameOf(firstArgument);

    char target[4096];
    ssize_t length = ::readlink((processFolder + "/exe").c_str(), target, sizeof target - 1);
    if (length > 0) {
        std::string executable = fileNameOf(std::string(target, static_cast<std::size_t>(length)));
        if (executable.size() > command.size() && startsWith(executable, command)) return executable;
    }
    std::string argumentName = fileNameOf(firstArgument);
    if (argumentName.size() > command.size() && startsWith(argumentName, command)) return argumentName;
    return command;
}

// The start time of a process (clock ticks after boot) and whether it has ended: a zombie has
// ended though it is still listed. None when the process is gone altogether.
struct ProcessStatus {
    unsigned long long startTime = 0;
    bool ended = false;
};

std::optional<ProcessStatus> processStatus(std::uint32_t processId) {
    std::string stat = readSmallFile("/proc/" + std::to_string(processId) + "/stat");
    // The name in parentheses may hold blanks and parentheses itself; the fields follow the last ')'.
    std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    ProcessStatus status;
    for (int number = 3; fields >> field; ++number) {
        if (number == 3) status.ended = field == "Z" || field == "X";
        if (number == 22) {
            status.startTime = std::strtoull(field.c_str(), nullptr, 10);
            return status;
        }
    }
    return std::nullopt;
}

class LinuxProcessHandle : public ProcessHandle {
public:
    // `processFd` is a pidfd of the process, or -1 where the kernel has none; then the
    // process is recognised by its id and start time.
    LinuxProcessHandle(int memoryFd, int processFd, std::uint32_t processId, unsigned long long startTime)
        : fd_(memoryFd), processFd_(processFd), processId_(processId), startTime_(startTime) {}
    ~LinuxProcessHandle() override {
        ::close(fd_);
        if (processFd_ >= 0) ::close(processFd_);
    }
    LinuxProcessHandle(const LinuxProcessHandle&) = delete;
    LinuxProcessHandle& operator=(const LinuxProcessHandle&) = delete;

    bool read(TerminalAddress address, void* destination, std::size_t count) override {
        // The terminal's address space ends at 4 GiB.
        if (count > (std::uint64_t{1} << 32) - address) return false;
        auto* bytes = static_cast<char*>(destination);
        std::size_t done = 0;
        while (done < count) {
            ssize_t got = ::pread(fd_, bytes + done, count - done, static_cast<off_t>(address + done));
            if (got < 0 && errno == EINTR) continue;
            // Zero bytes: the process has gone, its memory with it.
            if (got <= 0) return false;
            done += static_cast<std::size_t>(got);
        }
        return true;
    }

    bool exited() override {
        if (processFd_ >= 0) {
            // A pidfd becomes readable when its process ends.
            pollfd ending{processFd_, POLLIN, 0};
            int ready = ::poll(&ending, 1, 0);
            return ready > 0 && (ending.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
        }
        std::optional<ProcessStatus> status = processStatus(processId_);
        // Another process with the same id starts later than this one did.
        return !status || status->ended || status->startTime != startTime_;
    }

private:
    int fd_;
    int processFd_;
    std::uint32_t processId_;
    unsigned long long startTime_;
};

class LinuxProcessAccess : public ProcessAccess {
public:
    std::vector<ProcessEntry> listProcesses() override {
        std::vector<ProcessEntry> processes;
        DIR* proc = ::opendir("/proc");
        if (!proc) return processes;
        while (dirent* entry = ::readdir(proc)) {
            char* end = nullptr;
            unsigned long id = std::strtoul(entry->d_name, &end, 10);
            if (end == entry->d_name || *end != '\0' || id > UINT32_MAX) continue;
            std::string name = executableName(std::string("/proc/") + entry->d_name);
            // Empty when the process ended while the list was taken.
            if (name.empty()) continue;
            processes.push_back({static_cast<std::uint32_t>(id), name});
        }
        ::closedir(proc);
        return processes;
    }

    std::unique_ptr<ProcessHandle> open(std::uint32_t processId) override {
        // Taken before the memory, so both name the same process.
        int processFd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(processId), 0));
        std::optional<ProcessStatus> status = processStatus(processId);
        if (!status) {
            if (processFd >= 0) ::close(processFd);
            return nullptr;
        }
        // Kept open: the descriptor stays bound to this process, never to a later one with its id.
        int fd = ::open(("/proc/" + std::to_string(processId) + "/mem").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            if (processFd >= 0) ::close(processFd);
            return nullptr;
        }
        return std::make_unique<LinuxProcessHandle>(fd, processFd, processId, status->startTime);
    }
};

}  // namespace

std::unique_ptr<ProcessAccess> makeSystemProcessAccess() { return std::make_unique<LinuxProcessAccess>(); }

}  // namespace velmora
