#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/link_stream.h"

namespace velmora {

namespace {

int openReadEnd(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); }

class FifoStream : public LinkStream {
public:
    FifoStream(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
    ~FifoStream() override { ::close(fd_); }

    const std::string& path() const override { return path_; }
    bool writerPresent() const override { return writer_; }
    int readableHandle() const override { return fd_; }

    LinkPoll poll(std::string& bytes) override {
        LinkPoll result;
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
            // next writer comes. dup2 keeps the descriptor's number for whoever watches it.
            if (writer_) result.writerGone = true;
            writer_ = false;
            const int fresh = openReadEnd(path_);
            if (fresh >= 0) {
                ::dup2(fresh, fd_);
                ::close(fresh);
            }
            return result;
        }
        return result;
    }

private:
    std::string path_;
    int fd_;
    bool writer_ = false;
};

}  // namespace

std::unique_ptr<LinkStream> openLinkStream(const std::string& quikPath, std::string& error) {
    const std::string path = quikPath + "velmora-link.fifo";
    struct stat status{};
    if (::lstat(path.c_str(), &status) == 0) {
        if (!S_ISFIFO(status.st_mode)) {
            error = "link stream " + path + " exists and is not a FIFO; left alone";
            return nullptr;
        }
    } else if (::mkfifo(path.c_str(), 0600) != 0) {
        error = "cannot make the link FIFO " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    const int fd = openReadEnd(path);
    if (fd < 0) {
        error = "cannot open the link FIFO " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<FifoStream>(path, fd);
}

}  // namespace velmora
