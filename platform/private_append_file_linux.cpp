#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/private_append_file.h"
#include "platform/system_error_text.h"

namespace velmora {

namespace {

class AppendFile : public PrivateAppendFile {
public:
    AppendFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
    ~AppendFile() override {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    const std::string& path() const override { return path_; }
    bool append(std::string_view bytes, std::string& error) override {
        ssize_t written;
        do written = ::write(fd_, bytes.data(), bytes.size());
        while (written < 0 && errno == EINTR);
        if (written == static_cast<ssize_t>(bytes.size())) return true;
        error = written < 0 ? systemErrorText(errno) : "записано не всё";
        return false;
    }

private:
    std::string path_;
    int fd_;
};

}  // namespace

std::unique_ptr<PrivateAppendFile> createPrivateAppendFile(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "файл " + path + " не создан: " + systemErrorText(errno);
        return nullptr;
    }
    return std::make_unique<AppendFile>(path, fd);
}

}  // namespace velmora
