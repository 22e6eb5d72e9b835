#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/link_stream.h"
#include "platform/system_error_text.h"

namespace velmora {

namespace {

std::string foreignThing(const struct stat& status) {
    if (S_ISREG(status.st_mode)) return "обычный файл";
    if (S_ISDIR(status.st_mode)) return "папка";
    if (S_ISLNK(status.st_mode)) return "символьная ссылка";
    if (S_ISFIFO(status.st_mode)) return "канал другого пользователя";
    return "не канал";
}

// The read end of the path only when it is a FIFO of this user: whatever else was put in its
// place would be read from the start again and again. Makes the FIFO when nothing is there.
int openOwnFifo(const std::string& path, std::string& reason) {
    struct stat named{};
    if (::lstat(path.c_str(), &named) != 0) {
        if (errno != ENOENT || (::mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST)) {
            reason = "канал " + path + " не создан: " + systemErrorText(errno);
            return -1;
        }
        if (::lstat(path.c_str(), &named) != 0) {
            reason = "канал " + path + " не создан: " + systemErrorText(errno);
            return -1;
        }
    }
    if (!S_ISFIFO(named.st_mode) || named.st_uid != ::geteuid()) {
        reason = "на месте канала " + path + " " + foreignThing(named);
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    struct stat opened{};
    if (fd < 0 || ::fstat(fd, &opened) != 0) {
        reason = "канал " + path + " не открыт: " + systemErrorText(errno);
        if (fd >= 0) ::close(fd);
        return -1;
    }
    // Swapped between the look and the open.
    if (opened.st_dev != named.st_dev || opened.st_ino != named.st_ino) {
        ::close(fd);
        reason = "на месте канала " + path + " " + foreignThing(opened);
        return -1;
    }
    return fd;
}

class FifoStream : public LinkStream {
public:
    // `quiet`: a pipe nobody writes to, stood in for the FIFO while it is blocked.
    FifoStream(std::string path, int fd, const int (&quiet)[2]) : path_(std::move(path)), fd_(fd) {
        quiet_[0] = quiet[0];
        quiet_[1] = quiet[1];
        serve();
    }
    ~FifoStream() override {
        // Only a FIFO this stream made and served: never what someone else put in its place.
        if (blocked_.empty()) ::unlink(path_.c_str());
        ::close(fd_);
        ::close(quiet_[0]);
        ::close(quiet_[1]);
    }

    const std::string& path() const override { return path_; }
    bool writerPresent() const override { return writer_; }
    int readableHandle() const override { return fd_; }
    std::string blockedReason() const override { return blocked_; }
    bool retry() override { return blocked_.empty() || serve(); }

    LinkPoll poll(std::string& bytes) override {
        LinkPoll result;
        if (!blocked_.empty()) return result;
        char buffer[65536];
        for (std::size_t taken = 0; taken < maxLinkPollBytes;) {
            const ssize_t count = ::read(fd_, buffer, sizeof buffer);
            if (count > 0) {
                writer_ = true;
                bytes.append(buffer, static_cast<std::size_t>(count));
                taken += static_cast<std::size_t>(count);
                continue;
            }
            if (count < 0 && errno == EINTR) continue;
            if (count < 0) {
                // EAGAIN: a writer holds the FIFO open and has nothing more now.
                if (errno == EAGAIN || errno == EWOULDBLOCK) writer_ = true;
                return result;
            }
            // End of file: no writer. A read end that has seen a writer go stays readable for
            // ever, which would spin an event loop; a fresh one in its place is quiet until the
            // next writer comes.
            if (writer_) result.writerGone = true;
            writer_ = false;
            serve();
            return result;
        }
        return result;
    }

private:
    // dup2 keeps the descriptor's number for whoever watches it.
    bool serve() {
        std::string reason;
        const int fresh = openOwnFifo(path_, reason);
        if (fresh < 0) {
            if (blocked_.empty()) ::dup2(quiet_[0], fd_);
            blocked_ = reason;
            return false;
        }
        ::dup2(fresh, fd_);
        ::close(fresh);
        blocked_.clear();
        return true;
    }

    std::string path_;
    int fd_;
    int quiet_[2] = {-1, -1};
    bool writer_ = false;
    std::string blocked_;
};

}  // namespace

std::unique_ptr<LinkStream> openLinkStream(const std::string& folder, const std::string& name, std::string& error) {
    int quiet[2];
    if (::pipe2(quiet, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("cannot make a pipe for the link: ") + std::strerror(errno);
        return nullptr;
    }
    const int fd = ::fcntl(quiet[0], F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("cannot make a pipe for the link: ") + std::strerror(errno);
        ::close(quiet[0]);
        ::close(quiet[1]);
        return nullptr;
    }
    return std::make_unique<FifoStream>(folder + name + ".fifo", fd, quiet);
}

}  // namespace velmora
