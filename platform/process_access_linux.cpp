#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
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
// One variable of a process's environment; empty when it is not set or cannot be read.
std::string environmentValue(const std::string& processFolder, const std::string& name) {
    const std::string environment = readSmallFile(processFolder + "/environ");
    const std::string prefix = name + "=";
    for (std::size_t at = 0; at < environment.size();) {
        std::size_t end = environment.find('\0', at);
        if (end == std::string::npos) end = environment.size();
        if (environment.compare(at, prefix.size(), prefix) == 0) return environment.substr(at + prefix.size(), end - at - prefix.size());
        at = end + 1;
    }
    return {};
}

// A program under Wine, "C:\QUIK\info.exe": where its drive lies in the Unix tree, through the
// Wine prefix's drive links; the Windows path itself when that cannot be told.
std::string unixPathUnderWine(const std::string& processFolder, const std::string& windowsPath) {
    if (windowsPath.size() < 3 || windowsPath[1] != ':') return windowsPath;
    std::string wine = environmentValue(processFolder, "WINEPREFIX");
    if (wine.empty()) {
        const std::string home = environmentValue(processFolder, "HOME");
        if (home.empty()) return windowsPath;
        wine = home + "/.wine";
    }
    const char drive = static_cast<char>(std::tolower(static_cast<unsigned char>(windowsPath[0])));
    char root[4096];
    if (!::realpath((wine + "/dosdevices/" + drive + ":").c_str(), root)) return windowsPath;
    std::string path = root;
    if (path.back() != '/') path += '/';
    std::string rest = windowsPath.substr(3);
    for (char& c : rest)
        if (c == '\\') c = '/';
    return path + rest;
}

// The executable's path. A program under Wine is run by Wine's loader: the executable is the
// argument that bears the process's name, as a Windows path or a Unix one.
std::string executablePath(const std::string& processFolder) {
    std::string command = readSmallFile(processFolder + "/comm");
    if (!command.empty() && command.back() == '\n') command.pop_back();
    const std::string arguments = readSmallFile(processFolder + "/cmdline");
    for (std::size_t at = 0; !command.empty() && at < arguments.size();) {
        std::size_t end = arguments.find('\0', at);
        if (end == std::string::npos) end = arguments.size();
        const std::string argument = arguments.substr(at, end - at);
        at = end + 1;
        // The name the kernel keeps is cut to 15 bytes.
        if (!startsWith(fileNameOf(argument), command)) continue;
        if (isWindowsPath(argument)) return unixPathUnderWine(processFolder, argument);
        if (!argument.empty() && argument[0] == '/') return argument;
        char folder[4096];
        ssize_t length = ::readlink((processFolder + "/cwd").c_str(), folder, sizeof folder - 1);
        if (length > 0) return std::string(folder, static_cast<std::size_t>(length)) + "/" + argument;
    }
    char target[4096];
    ssize_t length = ::readlink((processFolder + "/exe").c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

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
    // `processFd`: a pidfd of the same process, or -1; gathered reads name the process by its id,
    // and this descriptor proves that the id still means it. Without one the process is
    // recognised by its id and start time.
    LinuxProcessHandle(int memoryFd, pid_t processId, int processFd, unsigned long long startTime)
        : memoryFd_(memoryFd), processId_(processId), processFd_(processFd), startTime_(startTime) {}
    ~LinuxProcessHandle() override {
        ::close(memoryFd_);
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
            ssize_t got = ::pread(memoryFd_, bytes + done, count - done, static_cast<off_t>(address + done));
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

    std::size_t readMany(const ReadRange* ranges, std::size_t count) override {
        TerminalAddress lowest = 0;
        std::uint64_t span = spanOf(ranges, count, lowest);
        if (span > 0 && span <= gatheredSpanLimit) {
            block_.resize(span);
            if (read(lowest, block_.data(), block_.size())) {
                for (std::size_t i = 0; i < count; ++i)
                    std::memcpy(ranges[i].destination, block_.data() + (ranges[i].address - lowest), ranges[i].count);
                return count;
            }
        }
        std::size_t done = vectoredRead(ranges, count);
        // Where the gathered read stopped, reading on one by one gives the exact point of failure.
        return done + ProcessHandle::readMany(ranges + done, count - done);
    }

    // Readable once the process has exited; until then its id cannot have passed to another.
    bool stillOurProcess() const {
        pollfd exited{processFd_, POLLIN, 0};
        return processFd_ >= 0 && ::poll(&exited, 1, 0) == 0;
    }

    // Gathered reads by process id are never made; reads through the memory file go on.
    void forgetProcessId() {
        if (processFd_ >= 0) ::close(processFd_);
        processFd_ = -1;
    }

private:
    // The leading ranges read whole by one process_vm_readv; 0 when it cannot be used.
    std::size_t vectoredRead(const ReadRange* ranges, std::size_t count) {
        if (!vectoredReadsAllowed_ || processFd_ < 0 || count == 0) return 0;
        local_.resize(count);
        remote_.resize(count);
        std::size_t usable = 0;
        std::size_t total = 0;
        for (; usable < count && usable < IOV_MAX; ++usable) {
            const ReadRange& range = ranges[usable];
            if (range.count > (std::uint64_t{1} << 32) - range.address) break;
            local_[usable] = {range.destination, range.count};
            remote_[usable] = {reinterpret_cast<void*>(std::uintptr_t{range.address}), range.count};
            total += range.count;
        }
        ssize_t got = ::process_vm_readv(processId_, local_.data(), usable, remote_.data(), usable, 0);
        if (got < 0) {
            if (errno == EPERM || errno == ENOSYS) vectoredReadsAllowed_ = false;
            return 0;
        }
        if (!stillOurProcess()) return 0;
        if (static_cast<std::size_t>(got) == total) return usable;
        std::size_t whole = 0;
        for (std::size_t bytes = 0; whole < usable && bytes + ranges[whole].count <= static_cast<std::size_t>(got);
             ++whole)
            bytes += ranges[whole].count;
        return whole;
    }

    int memoryFd_;
    pid_t processId_;
    int processFd_;
    unsigned long long startTime_;
    bool vectoredReadsAllowed_ = true;
    std::vector<std::uint8_t> block_;
    std::vector<iovec> local_;
    std::vector<iovec> remote_;
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
            const std::string folder = std::string("/proc/") + entry->d_name;
            std::string name = executableName(folder);
            // Empty when the process ended while the list was taken.
            if (name.empty()) continue;
            std::optional<ProcessStatus> status = processStatus(static_cast<std::uint32_t>(id));
            processes.push_back({static_cast<std::uint32_t>(id), name, executablePath(folder), !status || status->ended});
        }
        ::closedir(proc);
        return processes;
    }

    std::unique_ptr<ProcessHandle> open(std::uint32_t processId) override {
        const auto id = static_cast<pid_t>(processId);
        // Taken first: if the process is still there after the memory is opened, both are bound to it.
        int processFd = static_cast<int>(::syscall(SYS_pidfd_open, id, 0));
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
        auto handle = std::make_unique<LinuxProcessHandle>(fd, id, processFd, status->startTime);
        if (!handle->stillOurProcess()) handle->forgetProcessId();
        return handle;
    }
};

}  // namespace

std::unique_ptr<ProcessAccess> makeSystemProcessAccess() { return std::make_unique<LinuxProcessAccess>(); }

}  // namespace velmora
