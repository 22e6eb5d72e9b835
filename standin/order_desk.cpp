#include "order_desk.h"

#include <algorithm>
#include <map>
#include <utility>

namespace standin {

const DeskOrder& OrderDesk::add(std::int64_t transId, std::size_t securityIndex, bool sell, std::uint32_t intPrice,
                                std::uint32_t quantity, std::uint32_t balance) {
    DeskOrder order;
    order.number = nextNumber_++;
    order.transId = transId;
    order.securityIndex = securityIndex;
    order.sell = sell;
    order.intPrice = intPrice;
    order.quantity = quantity;
    order.balance = balance;
    order.state = balance > 0 ? DeskOrder::Active : DeskOrder::Filled;
    orders_.push_back(order);
    return orders_.back();
}

DeskOrder* OrderDesk::find(std::uint64_t number) {
    auto found = std::find_if(orders_.begin(), orders_.end(), [&](const DeskOrder& o) { return o.number == number; });
    return found == orders_.end() ? nullptr : &*found;
}

std::vector<DeskOrder> OrderDesk::cancelAll(std::size_t securityIndex) {
    std::vector<DeskOrder> cancelled;
    for (DeskOrder& order : orders_) {
        if (order.securityIndex != securityIndex || order.state != DeskOrder::Active) continue;
        order.state = DeskOrder::Cancelled;
        cancelled.push_back(order);
    }
    return cancelled;
}

std::vector<DeskOrder> OrderDesk::fillDownTo(std::size_t securityIndex, const std::vector<BookRow>& rows) {
    using LevelKey = std::pair<bool, std::uint32_t>;  // side, price
    std::map<LevelKey, std::uint32_t> excess;
    for (const DeskOrder& order : orders_)
        if (order.securityIndex == securityIndex && order.state == DeskOrder::Active)
            excess[{order.sell, order.intPrice}] += order.balance;
    if (excess.empty()) return {};
    for (auto& [level, balances] : excess) {
        auto row = std::find_if(rows.begin(), rows.end(),
                                [&](const BookRow& r) { return r.sell == level.first && r.price == level.second; });
        std::uint32_t own = row == rows.end() ? 0 : row->own;
        balances = balances > own ? balances - own : 0;
    }
    std::vector<DeskOrder> changed;
    for (DeskOrder& order : orders_) {
        if (order.securityIndex != securityIndex || order.state != DeskOrder::Active) continue;
        std::uint32_t& left = excess[{order.sell, order.intPrice}];
        std::uint32_t filled = std::min(left, order.balance);
        if (filled == 0) continue;
        left -= filled;
        order.balance -= filled;
        if (order.balance == 0) order.state = DeskOrder::Filled;
        changed.push_back(order);
    }
    return changed;
}

}  // namespace standin
