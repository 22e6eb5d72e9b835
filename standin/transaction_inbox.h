#pragma once
#include <poll.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace standin {

// Follows the transaction file: hands out each complete line appended since the last look.
// A file that was emptied or rewritten (by the program's start) is read again from its start.
class TransactionFile {
public:
    // What the file holds now counts as already handled.
    explicit TransactionFile(std::string path);
    std::vector<std::string> newLines();

private:
    static constexpr std::size_t prefixSize = 4096;
    void resetTo(const std::string& content);

    std::string path_;
    std::uint64_t offset_ = 0;
    ino_t inode_ = 0;
    std::string prefix_;  // the first bytes already handled, to notice a rewrite
};

// Listens for the stand-in library's connections on the folder's local socket; every packet
// received is one transaction text.
class LinkServer {
public:
    // Throws when the socket cannot be opened, such as when another stand-in serves the folder.
    explicit LinkServer(const std::string& canonicalFolder);
    ~LinkServer();
    LinkServer(const LinkServer&) = delete;
    LinkServer& operator=(const LinkServer&) = delete;

    // Descriptors to wait on; pass the result of poll() back to `receive`.
    std::vector<pollfd> pollSet() const;
    std::vector<std::string> receive(const std::vector<pollfd>& ready);

private:
    int listener_ = -1;
    std::vector<int> clients_;
    std::string greeting_;
};

}  // namespace standin
