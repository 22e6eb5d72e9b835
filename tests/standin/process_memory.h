#pragma once
// Reads another process's memory the way any reader outside the terminal must, without
// Velmora's own reading code.
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora::testing {

class ProcessMemory {
public:
    explicit ProcessMemory(pid_t pid) : fd_(open(("/proc/" + std::to_string(pid) + "/mem").c_str(), O_RDONLY)) {}
    ~ProcessMemory() {
        if (fd_ >= 0) close(fd_);
    }
    ProcessMemory(const ProcessMemory&) = delete;
    ProcessMemory& operator=(const ProcessMemory&) = delete;

    bool read(std::uint32_t address, void* destination, std::size_t count) const {
        return pread(fd_, destination, count, static_cast<off_t>(address)) == static_cast<ssize_t>(count);
    }
    bool readable(std::uint32_t address) const {
        std::uint32_t value;
        return read(address, &value, 4);
    }
    // The word at `address`, or `fallback` when it cannot be read.
    std::uint32_t wordOr(std::uint32_t address, std::uint32_t fallback) const {
        std::uint32_t value = 0;
        return read(address, &value, 4) ? value : fallback;
    }

private:
    int fd_;
};

}  // namespace velmora::testing
