#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/line_splitter.h"
#include "trans/reply_file_follower.h"
#include "trans/reply_line.h"

using namespace velmora;

namespace {

// Small, so that overlong lines come up often.
constexpr std::size_t maxLineBytes = 256;

}  // namespace

// The first byte sets the size of the pieces the rest arrives in. Lines cut from the pieces must
// be the lines cut from the whole, each within the cap; every reply parsed must be a valid one.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t pieceSize = 1 + data[0] % 64;
    std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    LineSplitter whole(maxLineBytes, CarriageReturn::Dropped);
    std::vector<std::string> wholeLines;
    whole.feed(bytes, wholeLines);

    LineSplitter pieces(maxLineBytes, CarriageReturn::Dropped);
    std::vector<std::string> pieceLines;
    for (std::size_t at = 0; at < bytes.size(); at += pieceSize) pieces.feed(bytes.substr(at, pieceSize), pieceLines);

    if (wholeLines != pieceLines || whole.takeOverlongCount() != pieces.takeOverlongCount()) __builtin_trap();
    for (const std::string& line : wholeLines) {
        if (line.size() > maxLineBytes || line.find('\n') != std::string::npos) __builtin_trap();
        std::optional<TransReply> reply = ParseReplyLine(line);
        if (!reply) continue;
        if (reply->transId < 1 || reply->transId > 2147483647u || reply->status < 0) __builtin_trap();
        if (line.find('\0') != std::string::npos) __builtin_trap();
        std::optional<TransReply> again = ParseReplyLine(line);
        if (!again || again->transId != reply->transId || again->status != reply->status ||
            again->orderNumber != reply->orderNumber || again->description != reply->description)
            __builtin_trap();
    }
    return 0;
}
