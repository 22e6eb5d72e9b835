#pragma once
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ladder/ladder_extras.h"
#include "terminal/side.h"
#include "trans/reply_line.h"

namespace velmora {

// Times are the caller's, on any steady scale: the tracker never reads a clock.
using TrackerTime = std::chrono::milliseconds;

enum class TransKind { NewOrder, KillOrder, KillAll, MoveOrder };

// Where a transaction sent stands. NoReply is not final: a reply that comes late still counts.
enum class TransState { Sent, Accepted, Executed, Rejected, NoReply };

struct TrackedTransaction {
    std::uint32_t transId = 0;
    TransKind kind = TransKind::NewOrder;
    Side side = Side::Buy;
    std::int64_t price = 0;  // in ticks, as all prices here
    std::int64_t quantity = 0;
    std::uint64_t orderKey = 0;  // the order a KillOrder cancels or a MoveOrder moves
    TrackerTime sentAt{};
    TransState state = TransState::Sent;
    int status = 0;               // the last STATUS; for a send the library refused, its result code
    std::string text;             // the last DESCRIPTION, or the library's message
    std::uint64_t orderNumber = 0;
    std::uint32_t statusesSeen = 0;  // bit n: a reply with STATUS n came
    std::uint32_t instrumentEpoch = 0;  // which instrument was shown when it was sent
};

// Gone: the book has not shown it for a while, filled or cancelled in the terminal, not known which.
enum class OwnOrderState { Active, Filled, Cancelled, Gone };

struct OwnOrder {
    std::uint64_t number = 0;
    Side side = Side::Buy;
    std::int64_t price = 0;
    std::int64_t quantity = 0;
    std::int64_t balance = 0;
    OwnOrderState state = OwnOrderState::Active;
    std::uint32_t transId = 0;  // 0 when not placed by us in this run
    TrackerTime since{};        // when its transaction was sent, or it was first reported
};

// What a reply changed, for the panel and the log.
struct ReplyOutcome {
    enum Kind { Nothing, Accepted, Executed, Rejected };
    Kind kind = Nothing;
    std::uint32_t transId = 0;
    int status = 0;
    std::string text;
    std::uint64_t orderNumber = 0;
    bool known = false;  // the TRANS_ID is one this tracker sent
};

// One level's own quantity on one side, as the book shows it.
struct BookOwnQuantity {
    Side side = Side::Buy;
    std::int64_t price = 0;
    std::int64_t quantity = 0;
};

// An order's state as the terminal reports it (the library's order callback, the script's order
// line), its side and price taken from the report's own encoding where it came in.
struct OrderReport {
    std::int32_t mode = 0;  // 0 a new order, 1 the initial load, 2 the last order of the initial load
    std::uint32_t transId = 0;
    std::uint64_t number = 0;
    std::string classCode;
    std::string secCode;
    std::int64_t price = 0;
    std::int64_t balance = 0;
    Side side = Side::Buy;
    std::int32_t status = 0;  // 1 active, 2 cancelled, anything else filled
};

// Follows every transaction sent by its TRANS_ID, and the own orders of one instrument.
// A reply changes only the record of its own TRANS_ID. Prices match exactly.
class OrderTracker {
public:
    // An order the book has not shown for this long is taken for gone (mode TRI only).
    static constexpr TrackerTime unseenLimit{2000};

    // `replyTimeoutSeconds` 0: a transaction waits for its reply for ever.
    OrderTracker(std::string classCode, std::string ticker, int replyTimeoutSeconds);

    // A change of instrument forgets the own orders; transactions already sent are still followed.
    void setInstrument(std::string classCode, std::string ticker);
    void setReplyTimeout(int seconds) { replyTimeoutSeconds_ = seconds; }

    // `side`, `price` and `quantity` for a NewOrder, `orderKey` for a KillOrder, `orderKey` and the
    // new `price` for a MoveOrder; a TRANS_ID used before (the counter wraps) starts a new record.
    void noteSent(std::uint32_t transId, TransKind kind, Side side, std::int64_t price, std::int64_t quantity,
                  std::uint64_t orderKey, TrackerTime now);
    // A line of quik.tro, or the library's reply as {transId, replyCode, orderNumber, "", message}.
    ReplyOutcome applyReply(const TransReply& reply, TrackerTime now);
    // Whether a reply with this STATUS came for its TRANS_ID before: the same reply by a second road.
    bool repeatsReply(const TransReply& reply) const;
    // The library refused to send it: the transaction is rejected with its result code and message.
    ReplyOutcome applySendFailure(std::uint32_t transId, std::int32_t result, const std::string& message);
    // An order reported; orders of other instruments are passed over.
    void applyOrder(const OrderReport& order, TrackerTime now);
    // Mode TRI: the book's own quantities. An active order whose side and price the book has shown
    // without own quantity for unseenLimit is taken for gone.
    void applyBook(const std::vector<BookOwnQuantity>& ownQuantities, TrackerTime now);
    // Transactions still waiting for a final reply past the time-out; each is reported once.
    std::vector<std::uint32_t> expire(TrackerTime now);

    // New orders sent for the instrument shown that have no answer yet, appended to `into`.
    void unansweredOrders(std::vector<PendingQuantity>& into);
    // Active own orders, newest first.
    std::vector<OwnOrder> activeOrders() const;
    // Numbers of the active own orders of that side at that price.
    std::vector<std::uint64_t> activeAt(Side side, std::int64_t price) const;
    const TrackedTransaction* transaction(std::uint32_t transId) const;
    const OwnOrder* order(std::uint64_t number) const;

private:
    void orderAccepted(const TrackedTransaction& sent);
    void cancelExecuted(const TrackedTransaction& sent);
    void orderMoved(const TrackedTransaction& sent);
    // The order `sent` placed under its reply's number, of `side` and `quantity` at its price.
    void placed(const TrackedTransaction& sent, Side side, std::int64_t quantity);

    std::string classCode_;
    std::string ticker_;
    int replyTimeoutSeconds_;
    std::map<std::uint32_t, TrackedTransaction> transactions_;
    std::map<std::uint64_t, OwnOrder> orders_;
    // Mode TRI: since when an active order's level has shown no own quantity.
    std::map<std::uint64_t, TrackerTime> unseenSince_;
    // New orders possibly still unanswered: the few the ladder looks at on every refresh.
    std::vector<std::uint32_t> unanswered_;
    std::uint32_t instrumentEpoch_ = 0;
};

}  // namespace velmora
