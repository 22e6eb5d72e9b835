#include "platform/line_splitter.h"

namespace velmora {

void LineSplitter::feed(std::string_view bytes, std::vector<std::string>& lines) {
    const bool dropCr = carriageReturn_ == CarriageReturn::Dropped;
    // One byte over the cap may be the CR before the LF still to come.
    const std::size_t heldBytes = maxLineBytes_ + (dropCr ? 1 : 0);
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, end);
        if (!overlong_) {
            if (partial_.size() + piece.size() > heldBytes) {
                overlong_ = true;
                partial_.clear();
            } else {
                partial_.append(piece);
            }
        }
        if (end == std::string_view::npos) return;
        if (!overlong_ && dropCr && !partial_.empty() && partial_.back() == '\r') partial_.pop_back();
        if (overlong_ || partial_.size() > maxLineBytes_)
            ++overlongCount_;
        else
            lines.push_back(std::move(partial_));
        partial_.clear();
        overlong_ = false;
        bytes.remove_prefix(end + 1);
    }
}

}  // namespace velmora
