#include "transaction_inbox.h"

#include <algorithm>

#include "system.h"

namespace standin {

namespace {

std::string withoutLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    return line;
}

}  // namespace

TransactionFile::TransactionFile(std::string path) : path_(std::move(path)) {
    std::string content;
    if (readWholeFile(path_, content, identity_)) resetTo(content);
}

void TransactionFile::resetTo(const std::string& content) {
    auto lastLineEnd = content.rfind('\n');
    offset_ = lastLineEnd == std::string::npos ? 0 : lastLineEnd + 1;
    prefix_ = content.substr(0, std::min<std::size_t>(offset_, prefixSize));
}

std::vector<std::string> TransactionFile::newLines() {
    std::vector<std::string> lines;
    std::string content;
    std::uint64_t identity = 0;
    if (!readWholeFile(path_, content, identity)) {
        offset_ = 0;
        prefix_.clear();
        return lines;
    }
    bool rewritten = identity != identity_ || content.size() < offset_ || content.compare(0, prefix_.size(), prefix_) != 0;
    identity_ = identity;
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

}  // namespace standin
