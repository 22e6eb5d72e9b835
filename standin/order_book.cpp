#include "order_book.h"

#include <algorithm>

namespace standin {

namespace {

std::uint32_t draw(std::mt19937& random, std::uint32_t low, std::uint32_t high) {
    return low + static_cast<std::uint32_t>(random() % (high - low + 1));
}

// Takes up to `wanted` from a level, the market's part first.
std::uint32_t takeFrom(Level& level, std::uint32_t wanted) {
    std::uint32_t fromMarket = std::min(wanted, level.market);
    level.market -= fromMarket;
    std::uint32_t fromOwn = std::min(wanted - fromMarket, level.own);
    level.own -= fromOwn;
    return fromMarket + fromOwn;
}

}  // namespace

OrderBook::OrderBook(std::uint32_t step, std::uint32_t bestBid) : step_(step), startBid_(bestBid) {}

void OrderBook::fillScripted(int variant) {
    bids_.clear();
    asks_.clear();
    for (std::uint32_t i = 0; i < 10; ++i) {
        if (i == 6) continue;  // a gap on each side, as thin books have
        std::uint32_t offset = i * step_;
        if (offset < startBid_)
            bids_[startBid_ - offset].market = 5 + (i * 37 + variant * 11) % 50;
        asks_[startBid_ + step_ + offset].market = 3 + (i * 29 + variant * 17) % 60;
    }
}

void OrderBook::fillRandom(std::mt19937& random) {
    bids_.clear();
    asks_.clear();
    for (std::uint32_t i = 0; i < 12; ++i) {
        std::uint32_t offset = i * step_;
        if (offset < startBid_ && random() % 8 != 0) bids_[startBid_ - offset].market = randomQuantity(random);
        if (random() % 8 != 0) asks_[startBid_ + step_ + offset].market = randomQuantity(random);
    }
    keepDepth(random);
}

OrderResult OrderBook::placeOrder(bool sell, std::uint32_t price, std::uint32_t quantity) {
    OrderResult result;
    std::uint32_t left = quantity;
    if (sell) {
        while (left > 0 && !bids_.empty() && bids_.rbegin()->first >= price) {
            auto best = std::prev(bids_.end());
            const std::uint32_t taken = takeFrom(best->second, left);
            result.fills.push_back({best->first, taken, true});
            left -= taken;
            if (best->second.total() == 0) bids_.erase(best);
        }
        if (left > 0) asks_[price].own += left;
    } else {
        while (left > 0 && !asks_.empty() && asks_.begin()->first <= price) {
            auto best = asks_.begin();
            const std::uint32_t taken = takeFrom(best->second, left);
            result.fills.push_back({best->first, taken, false});
            left -= taken;
            if (best->second.total() == 0) asks_.erase(best);
        }
        if (left > 0) bids_[price].own += left;
    }
    result.traded = quantity - left;
    result.resting = left;
    return result;
}

std::uint32_t OrderBook::killOwn() {
    std::uint32_t removed = 0;
    for (auto* side : {&bids_, &asks_}) {
        for (auto it = side->begin(); it != side->end();) {
            removed += it->second.own;
            it->second.own = 0;
            it = it->second.total() == 0 ? side->erase(it) : std::next(it);
        }
    }
    return removed;
}

std::uint32_t OrderBook::removeOwn(bool sell, std::uint32_t price, std::uint32_t quantity) {
    auto& side = sell ? asks_ : bids_;
    auto level = side.find(price);
    if (level == side.end()) return 0;
    std::uint32_t removed = std::min(quantity, level->second.own);
    level->second.own -= removed;
    if (level->second.total() == 0) side.erase(level);
    return removed;
}

std::optional<Fill> OrderBook::step(std::mt19937& random) {
    std::optional<Fill> traded;
    switch (random() % 6) {
    case 0:
    case 1: {  // a quantity changes somewhere
        auto& side = random() % 2 ? bids_ : asks_;
        if (side.empty()) break;
        auto it = std::next(side.begin(), random() % side.size());
        it->second.market = randomQuantity(random);
        break;
    }
    case 2: {  // a level vanishes (own orders keep theirs)
        auto& side = random() % 2 ? bids_ : asks_;
        if (side.size() <= minDepth_) break;
        auto it = std::next(side.begin(), random() % side.size());
        it->second.market = 0;
        if (it->second.total() == 0) side.erase(it);
        break;
    }
    case 3: {  // a level appears inside the book
        bool sell = random() % 2;
        if (bids_.empty() || asks_.empty()) break;
        std::uint32_t low = sell ? asks_.begin()->first : bids_.begin()->first;
        std::uint32_t high = sell ? asks_.rbegin()->first : bids_.rbegin()->first;
        std::uint32_t price = low + step_ * draw(random, 0, (high - low) / step_);
        (sell ? asks_ : bids_)[price].market += randomQuantity(random);
        break;
    }
    default:
        traded = walk(random() % 2, random);
    }
    keepDepth(random);
    return traded;
}

std::optional<Fill> OrderBook::walk(bool up, std::mt19937& random) {
    // The best level of one side is taken out by trades (own orders there are filled) and
    // the other side follows with a new best level one step closer.
    if (asks_.empty() || bids_.empty()) return std::nullopt;
    if (up) {
        const Fill taken{asks_.begin()->first, asks_.begin()->second.total(), false};
        asks_.erase(asks_.begin());
        std::uint32_t newBid = bids_.rbegin()->first + step_;
        if (newBid < taken.price) bids_[newBid].market += randomQuantity(random);
        return taken;
    }
    const Fill taken{bids_.rbegin()->first, bids_.rbegin()->second.total(), true};
    bids_.erase(std::prev(bids_.end()));
    std::uint32_t newAsk = asks_.begin()->first - step_;
    if (newAsk > taken.price) asks_[newAsk].market += randomQuantity(random);
    return taken;
}

void OrderBook::keepDepth(std::mt19937& random) {
    while (bids_.size() < minDepth_) {
        std::uint32_t far = bids_.empty() ? (asks_.empty() ? startBid_ : asks_.begin()->first - step_)
                                          : bids_.begin()->first - step_;
        if (far == 0 || far > startBid_ * 4) break;  // never at or below zero
        bids_[far].market = randomQuantity(random);
    }
    while (asks_.size() < minDepth_) {
        std::uint32_t far = asks_.empty() ? (bids_.empty() ? startBid_ + step_ : bids_.rbegin()->first + step_)
                                          : asks_.rbegin()->first + step_;
        asks_[far].market = randomQuantity(random);
    }
    // Far levels fall off the book's depth, except where the user's own orders rest.
    while (bids_.size() > maxDepth_ && bids_.begin()->second.own == 0) bids_.erase(bids_.begin());
    while (asks_.size() > maxDepth_ && asks_.rbegin()->second.own == 0) asks_.erase(std::prev(asks_.end()));
}

std::uint32_t OrderBook::randomQuantity(std::mt19937& random) const {
    return random() % 4 == 0 ? draw(random, 50, 500) : draw(random, 1, 40);
}

std::vector<BookRow> OrderBook::rows() const {
    std::vector<BookRow> out;
    out.reserve(bids_.size() + asks_.size());
    for (const auto& [price, level] : bids_) out.push_back({price, false, level.total(), level.own});
    for (const auto& [price, level] : asks_) out.push_back({price, true, level.total(), level.own});
    return out;
}

}  // namespace standin
