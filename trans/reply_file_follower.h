#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_identity.h"
#include "platform/line_splitter.h"
#include "trans/reply_line.h"

namespace velmora {

// What one look at the results file brought.
struct ReplyFileNews {
    std::vector<TransReply> replies;  // in file order
    std::size_t droppedLines = 0;     // lines that were no reply, or too long to keep
    std::vector<std::string> notes;   // why, in UTF-8, for the log; a few per poll at most
    bool startedOver = false;         // the file shrank or was replaced: read from its start again
};

// Follows quik.tro as the terminal appends to it. Each poll() reads only what was added since the
// last one, at most maxBytesPerPoll (the rest comes with the next polls). The file is read from its
// start again when it shrinks, when another file takes its name, or when the bytes just before
// the place reached have changed (emptied and written again between two polls).
class ReplyFileFollower {
public:
    struct Limits {
        std::size_t maxLineBytes = 64 * 1024;
        std::size_t maxBytesPerPoll = 1024 * 1024;
        std::size_t maxNotesPerPoll = 10;
    };

    explicit ReplyFileFollower(std::string path) : ReplyFileFollower(std::move(path), Limits{}) {}
    ReplyFileFollower(std::string path, Limits limits)
        : path_(std::move(path)), limits_(limits), splitter_(limits.maxLineBytes, CarriageReturn::Dropped) {}

    ReplyFileNews poll();
    // Bytes of the file read so far.
    std::uint64_t offset() const { return offset_; }

private:
    void startOver();
    void note(ReplyFileNews& news, std::string text) const;
    void take(const std::string& line, ReplyFileNews& news) const;

    std::string path_;
    Limits limits_;
    LineSplitter splitter_;
    std::optional<FileIdentity> identity_;
    std::uint64_t offset_ = 0;
    std::string tail_;  // the last bytes before offset_
};

}  // namespace velmora
