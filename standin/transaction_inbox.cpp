#include "transaction_inbox.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "terminal_link.h"

namespace standin {

namespace {

bool readAll(const std::string& path, std::string& content, ino_t& inode) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    fstat(fd, &info);
    inode = info.st_ino;
    content.clear();
    char buffer[65536];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) content.append(buffer, static_cast<std::size_t>(got));
    close(fd);
    return true;
}

std::string withoutLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    return line;
}

}  // namespace

TransactionFile::TransactionFile(std::string path) : path_(std::move(path)) {
    std::string content;
    if (readAll(path_, content, inode_)) resetTo(content);
}

void TransactionFile::resetTo(const std::string& content) {
    auto lastLineEnd = content.rfind('\n');
    offset_ = lastLineEnd == std::string::npos ? 0 : lastLineEnd + 1;
    prefix_ = content.substr(0, std::min<std::size_t>(offset_, prefixSize));
}

std::vector<std::string> TransactionFile::newLines() {
    std::vector<std::string> lines;
    std::string content;
    ino_t inode = 0;
    if (!readAll(path_, content, inode)) {
        offset_ = 0;
        prefix_.clear();
        return lines;
    }
    bool rewritten = inode != inode_ || content.size() < offset_ || content.compare(0, prefix_.size(), prefix_) != 0;
    inode_ = inode;
    if (rewritten) {
        offset_ = 0;
        prefix_.clear();
    }
    std::size_t start = offset_;
    for (;;) {
        auto end = content.find('\n', start);
        if (end == std::string::npos) break;
        std::string line = withoutLineEnd(content.substr(start, end - start));
        if (!line.empty()) lines.push_back(std::move(line));
        start = end + 1;
    }
    offset_ = start;
    prefix_ = content.substr(0, std::min<std::size_t>(offset_, prefixSize));
    return lines;
}

LinkServer::LinkServer(const std::string& canonicalFolder) : greeting_(linkGreeting(canonicalFolder)) {
    listener_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    LinkAddress link = linkAddress(canonicalFolder);
    if (bind(listener_, reinterpret_cast<const sockaddr*>(&link.address), link.length) != 0 ||
        listen(listener_, 16) != 0) {
        std::string reason = errno == EADDRINUSE ? "another stand-in already serves this folder" : std::strerror(errno);
        close(listener_);
        throw std::runtime_error("cannot open the transaction link: " + reason);
    }
}

LinkServer::~LinkServer() {
    for (int fd : clients_) close(fd);
    if (listener_ >= 0) close(listener_);
}

std::vector<pollfd> LinkServer::pollSet() const {
    std::vector<pollfd> set{{listener_, POLLIN, 0}};
    for (int fd : clients_) set.push_back({fd, POLLIN, 0});
    return set;
}

std::vector<std::string> LinkServer::receive(const std::vector<pollfd>& ready) {
    std::vector<std::string> texts;
    std::vector<int> closed;
    for (const pollfd& entry : ready) {
        if (entry.revents == 0) continue;
        if (entry.fd == listener_) {
            int client;
            while ((client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0) {
                send(client, greeting_.data(), greeting_.size(), MSG_NOSIGNAL);
                clients_.push_back(client);
            }
            continue;
        }
        for (;;) {
            char buffer[65536];
            ssize_t got = recv(entry.fd, buffer, sizeof buffer, 0);
            if (got > 0) {
                texts.push_back(withoutLineEnd(std::string(buffer, static_cast<std::size_t>(got))));
                continue;
            }
            if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) closed.push_back(entry.fd);
            if (got == 0 || errno != EINTR) break;
        }
    }
    for (int fd : closed) {
        close(fd);
        clients_.erase(std::remove(clients_.begin(), clients_.end(), fd), clients_.end());
    }
    return texts;
}

}  // namespace standin
