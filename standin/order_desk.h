#pragma once
// The terminal's table of the user's orders: what rests in the books as own quantity, order by
// order, with the numbers the replies and the library's order callback name.
#include <cstdint>
#include <vector>

#include "order_book.h"

namespace standin {

struct DeskOrder {
    enum State : std::int32_t { Active = 1, Cancelled = 2, Filled = 3 };
    std::uint64_t number = 0;
    std::int64_t transId = 0;  // 0 for an order placed in the terminal by hand
    std::size_t securityIndex = 0;
    bool sell = false;
    std::uint32_t intPrice = 0;
    std::uint32_t quantity = 0;
    std::uint32_t balance = 0;  // what is left unfilled
    State state = Active;
};

class OrderDesk {
public:
    // A new order with `balance` of its `quantity` left after trading at once; filled when none is.
    const DeskOrder& add(std::int64_t transId, std::size_t securityIndex, bool sell, std::uint32_t intPrice,
                         std::uint32_t quantity, std::uint32_t balance);
    DeskOrder* find(std::uint64_t number);
    // Marks every active order of the security cancelled; answers them as they now are.
    std::vector<DeskOrder> cancelAll(std::size_t securityIndex);
    // Fills the security's active orders, oldest first at each level, until their balances add up
    // to the own quantities `rows` show; answers the orders that changed.
    std::vector<DeskOrder> fillDownTo(std::size_t securityIndex, const std::vector<BookRow>& rows);
    const std::vector<DeskOrder>& orders() const { return orders_; }

private:
    std::vector<DeskOrder> orders_;
    std::uint64_t nextNumber_ = 5000001;
};

}  // namespace standin
