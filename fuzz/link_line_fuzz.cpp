#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/line_splitter.h"
#include "terminal/script_link_line.h"

using namespace velmora;

namespace {

constexpr std::size_t maxLineBytes = 512;

bool sideValid(const std::vector<LinkLevel>& side, bool descending) {
    if (side.size() > maxLinkBookEntries) return false;
    for (std::size_t i = 0; i < side.size(); ++i) {
        if (!(side[i].price > 0) || side[i].quantity <= 0) return false;
        if (i > 0 && (descending ? side[i].price >= side[i - 1].price : side[i].price <= side[i - 1].price))
            return false;
    }
    return true;
}

}  // namespace

// The first byte sets the size of the pieces the rest arrives in. Lines cut from the pieces must
// be the lines cut from the whole, within the cap; every book parsed has sides the ladder can show.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t pieceSize = 1 + data[0] % 64;
    std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    LineSplitter whole(maxLineBytes, CarriageReturn::Kept);
    std::vector<std::string> wholeLines;
    whole.feed(bytes, wholeLines);
    LineSplitter pieces(maxLineBytes, CarriageReturn::Kept);
    std::vector<std::string> pieceLines;
    for (std::size_t at = 0; at < bytes.size(); at += pieceSize) pieces.feed(bytes.substr(at, pieceSize), pieceLines);
    if (wholeLines != pieceLines || whole.takeOverlongCount() != pieces.takeOverlongCount()) __builtin_trap();

    for (const std::string& line : wholeLines) {
        if (line.size() > maxLineBytes || line.find('\n') != std::string::npos) __builtin_trap();
        const LinkParse parsed = ParseLinkLine(line);
        if (parsed.event.has_value() == (parsed.fault != LinkFault::None)) __builtin_trap();
        if (!parsed.event) continue;
        if (const auto* book = std::get_if<LinkBook>(&*parsed.event)) {
            // A crossed book is an auction's, shown as it is: each side alone must be sound.
            if (!sideValid(book->bids, true) || !sideValid(book->asks, false)) __builtin_trap();
        }
    }
    return 0;
}
