#pragma once
// Write access taken away for real, for the faults of files and folders the program cannot write.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace velmora::testing {

// Takes write access to a file or folder away, root included: root ignores permission
// bits, so for root it sets the immutable flag where the file system has one.
class Unwritable {
public:
    explicit Unwritable(std::string path) : path_(std::move(path)) {
        if (geteuid() == 0) {
            immutable_ = setImmutable(true);
        } else if (struct stat status{}; ::stat(path_.c_str(), &status) == 0) {
            mode_ = status.st_mode & 07777;
            restoreMode_ = ::chmod(path_.c_str(), mode_ & ~0222u) == 0;
        }
    }
    ~Unwritable() { release(); }
    Unwritable(const Unwritable&) = delete;
    Unwritable& operator=(const Unwritable&) = delete;

    void release() {
        if (immutable_) setImmutable(false);
        if (restoreMode_) ::chmod(path_.c_str(), mode_);
        immutable_ = restoreMode_ = false;
    }

private:
    bool setImmutable(bool on) {
        int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return false;
        int flags = 0;
        bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (ok) {
            flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
            ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return ok;
    }

    std::string path_;
    bool immutable_ = false;
    bool restoreMode_ = false;
    mode_t mode_ = 0;
};

inline bool canCreateIn(const std::string& folder) {
    std::string probe = folder + ".probe";
    int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

inline bool canAppendTo(const std::string& file) {
    int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
}

}  // namespace velmora::testing
