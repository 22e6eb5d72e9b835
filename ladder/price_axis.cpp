#include "ladder/price_axis.h"

#include <algorithm>

namespace velmora {

void PriceAxis::setShape(std::int64_t step, int rows) {
    step = std::max<std::int64_t>(step, 1);
    rows = std::max(rows, 0);
    if (step != step_) placed_ = false;
    // Fewer or more rows keep the middle where it was.
    if (placed_ && rows != rows_) top_ += static_cast<std::int64_t>(rows - rows_) / 2 * step;
    step_ = step;
    rows_ = rows;
}

std::optional<std::int64_t> PriceAxis::priceOf(int row) const {
    if (!placed_ || row < 0 || row >= rows_) return std::nullopt;
    const std::int64_t price = top_ - row * step_;
    if (price < 1) return std::nullopt;
    return price;
}

std::optional<int> PriceAxis::rowOf(std::int64_t price) const {
    if (!placed_ || price > top_ || (top_ - price) % step_ != 0) return std::nullopt;
    const std::int64_t row = (top_ - price) / step_;
    if (row >= rows_) return std::nullopt;
    return static_cast<int>(row);
}

bool PriceAxis::shows(std::int64_t price) const {
    return placed_ && price <= top_ && price > top_ - static_cast<std::int64_t>(rows_) * step_;
}

void PriceAxis::center(std::optional<std::int64_t> bid, std::optional<std::int64_t> ask) {
    if (!bid && !ask) return;
    // The row grid runs through the book's own prices: a bid's, else the ask's.
    const std::int64_t anchor = bid ? *bid : *ask;
    std::int64_t middle = anchor;
    if (bid && ask && *ask > *bid) middle = *bid + (*ask - *bid) / (2 * step_) * step_;
    top_ = middle + static_cast<std::int64_t>(rows_ / 2) * step_;
    placed_ = true;
    held_ = false;
    away_ = Away::None;
}

void PriceAxis::scroll(int rows) {
    if (placed_) top_ += static_cast<std::int64_t>(rows) * step_;
}

void PriceAxis::follow(std::optional<std::int64_t> bid, std::optional<std::int64_t> ask, bool pointerOver) {
    bid_ = bid;
    ask_ = ask;
    if (!placed_) return center(bid, ask);
    const bool bidOff = bid && !shows(*bid);
    const bool askOff = ask && !shows(*ask);
    if (!bidOff && !askOff) {
        held_ = false;
        away_ = Away::None;
        return;
    }
    if (!pointerOver) return center(bid, ask);
    held_ = true;
    const std::int64_t went = askOff ? *ask : *bid;
    away_ = went > top_ ? Away::Above : Away::Below;
}

void PriceAxis::pointerLeft() {
    if (held_) center(bid_, ask_);
}

}  // namespace velmora
