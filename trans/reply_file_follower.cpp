#include "trans/reply_file_follower.h"

#include <algorithm>
#include <fstream>

#include "platform/text_encoding.h"
#include "settings/normalized_text.h"

namespace velmora {

namespace {

// Enough to tell a rewritten file from the one read, small enough to read again on every poll.
constexpr std::size_t tailBytes = 64;
constexpr std::size_t quotedLineBytes = 200;

std::string readAt(std::ifstream& file, std::uint64_t offset, std::size_t count) {
    std::string bytes(count, '\0');
    file.clear();
    file.seekg(static_cast<std::streamoff>(offset));
    file.read(bytes.data(), static_cast<std::streamsize>(count));
    bytes.resize(file ? count : static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
    return bytes;
}

}  // namespace

void ReplyFileFollower::startOver() {
    offset_ = 0;
    tail_.clear();
    splitter_.reset();
}

void ReplyFileFollower::note(ReplyFileNews& news, std::string text) const {
    if (news.notes.size() < limits_.maxNotesPerPoll) news.notes.push_back(std::move(text));
}

void ReplyFileFollower::take(const std::string& line, ReplyFileNews& news) const {
    if (TrimmedText(line, Blank::SpaceOrTab).empty()) return;
    if (auto reply = ParseReplyLine(line)) {
        news.replies.push_back(std::move(*reply));
        return;
    }
    ++news.droppedLines;
    std::string shown = cp1251ToUtf8(std::string_view(line).substr(0, quotedLineBytes));
    for (char& c : shown)
        if (c == '\0') c = ' ';
    note(news, path_ + ": not a reply, dropped: " + shown + (line.size() > quotedLineBytes ? "..." : ""));
}

ReplyFileNews ReplyFileFollower::poll() {
    ReplyFileNews news;
    std::ifstream file(path_, std::ios::binary);
    std::optional<FileIdentity> identity = file ? fileIdentity(path_) : std::nullopt;
    if (!identity) {
        // Gone: whatever comes under its name next is another file.
        news.startedOver = offset_ > 0;
        startOver();
        identity_.reset();
        return news;
    }
    file.seekg(0, std::ios::end);
    std::streamoff end = file.tellg();
    if (end < 0) return news;
    const std::uint64_t size = static_cast<std::uint64_t>(end);

    bool replaced = identity_ && *identity_ != *identity;
    bool shrunk = size < offset_;
    bool rewritten = !replaced && !shrunk && !tail_.empty() && readAt(file, offset_ - tail_.size(), tail_.size()) != tail_;
    if (replaced || shrunk || rewritten) {
        news.startedOver = true;
        startOver();
    }
    identity_ = identity;

    std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(size - offset_, limits_.maxBytesPerPoll));
    std::string chunk = count ? readAt(file, offset_, count) : std::string();
    offset_ += chunk.size();
    if (chunk.size() >= tailBytes) {
        tail_.assign(chunk, chunk.size() - tailBytes, tailBytes);
    } else {
        tail_ += chunk;
        if (tail_.size() > tailBytes) tail_.erase(0, tail_.size() - tailBytes);
    }

    std::vector<std::string> lines;
    splitter_.feed(chunk, lines);
    for (const std::string& line : lines) take(line, news);
    if (std::size_t overlong = splitter_.takeOverlongCount()) {
        news.droppedLines += overlong;
        note(news, path_ + ": " + std::to_string(overlong) + " line(s) longer than " +
                       std::to_string(limits_.maxLineBytes) + " bytes dropped");
    }
    return news;
}

}  // namespace velmora
