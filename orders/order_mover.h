#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "terminal/side.h"

namespace velmora {

class LadderGrid;
class Log;
class OrderEditors;
class OrderSender;
class OrderSource;
class OrderTracking;
struct TerminalWatch;

// Moves own orders to another price. On the futures market one MOVE_ORDERS each; where that is
// not supported, a cancel and, only once the cancel is done, a new order for the balance left,
// so the two never rest at once. Follows each move from the tracker's states, one step a tick.
class OrderMover {
public:
    OrderMover(Log& log, TerminalWatch& watch, const LadderGrid& ladder, OrderSender& sender, OrderTracking& tracking,
               OrderSource& source)
        : log_(log), watch_(watch), ladder_(ladder), sender_(sender), tracking_(tracking), source_(source) {}

    // The ladder's own-order column (OwnSell or OwnBuy) pressed at one row and released at
    // another: the shown instrument's active orders of that side at the pressed row's price go to
    // the released row's price.
    void MoveOrders(OrderEditors& view, int column, int pressedRow, int releasedRow);
    // Once a tick, after the tracker has taken the terminal's answers.
    void poll();

private:
    enum class Step { Moving, Cancelling };
    struct Move {
        Step step = Step::Moving;
        std::uint32_t transId = 0;  // of the step's transaction
        std::uint64_t number = 0;
        Side side = Side::Buy;
        std::int64_t from = 0;
        std::int64_t to = 0;
        std::string classCode;
        std::string ticker;
    };

    void start(Move move, std::int64_t balance);
    // Sends the step's transaction; false when none went that an answer will follow.
    bool send(Move& move, Step step);
    // Whether the move is over after its transaction's answer (or silence).
    bool advance(Move& move);
    std::string priceText(std::int64_t price) const;

    Log& log_;
    TerminalWatch& watch_;
    const LadderGrid& ladder_;
    OrderSender& sender_;
    OrderTracking& tracking_;
    OrderSource& source_;
    std::vector<Move> moves_;
};

}  // namespace velmora
