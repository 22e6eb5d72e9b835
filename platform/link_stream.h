#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace velmora {

// What one poll of the link stream found.
struct LinkPoll {
    bool writerGone = false;  // a writer closed its end: a line it left unended is no line
};

// A writer faster than the reader must not hold the window's thread: the rest waits for the next poll.
constexpr std::size_t maxLinkPollBytes = 1 << 20;

// The stream the program serves and velmora.lua writes into. Reads never block.
class LinkStream {
public:
    virtual ~LinkStream() = default;
    // The path the script opens, for the request file.
    virtual const std::string& path() const = 0;
    // Appends every byte available now to `bytes`.
    virtual LinkPoll poll(std::string& bytes) = 0;
    // Whether a writer has the stream open, as far as the last poll saw.
    virtual bool writerPresent() const = 0;
    // A descriptor that becomes readable when bytes come (for an event loop to watch); the same
    // for the stream's whole life. -1 where there is none and the caller polls on a timer.
    virtual int readableHandle() const { return -1; }
    // Why the path cannot be served now, for the panel: something not ours in its place, or it
    // cannot be made. Empty while served. Nothing is read meanwhile.
    virtual std::string blockedReason() const { return {}; }
    // Serves the path again, making it where nothing is; true when served.
    virtual bool retry() { return true; }
};

// Linux: the FIFO `<folder><name>.fifo`, made when absent and removed at the end; anything else of
// that name (a file, a folder, a link, another user's FIFO) is left alone and the stream is
// blocked until it goes. Windows: the named pipe \\.\pipe\<name>. Null, with `error` set, when
// it cannot be served at all.
std::unique_ptr<LinkStream> openLinkStream(const std::string& folder, const std::string& name, std::string& error);

}  // namespace velmora
