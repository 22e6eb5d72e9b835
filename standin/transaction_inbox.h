#pragma once
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
    std::uint64_t identity_ = 0;  // changes when the file is replaced
    std::string prefix_;  // the first bytes already handled, to notice a rewrite
};

}  // namespace standin
