#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orders/order_tracker.h"
#include "terminal/script_link_line.h"
#include "trans/transactions.h"

namespace velmora {

class Clock;
class InfoPanel;
class Log;
class ReplyFileFollower;
class TQuoteTable;
class TransLibrary;
struct TSecShareRecord;

// Where the terminal's answers come from: the results file (TRI), the library's callbacks (DLL),
// nowhere (orders that are only logged),
// or the script's lines (orders through velmora.lua).
enum class ReplySource { None, File, Library, Script };

// What became of each order sent: feeds the tracker from the terminal's answers, tells the user
// of rejections, non-sends and silence in the panel and the log, and keeps the own orders of the
// instrument shown. Touched only from the window's thread.
class OrderTracking {
public:
    // A rejection stays in the panel this long, or until the next order.
    static constexpr TrackerTime panelHold{10000};

    OrderTracking(Log& log, TransLibrary& library, Clock& clock);
    ~OrderTracking();

    // Start-up: where replies come from (`replyFile` is quik.tro for File) and the time-out.
    void start(ReplySource source, const std::string& replyFile, int replyTimeoutSeconds);
    // The panel the texts go to; none: they are only logged.
    void setPanel(InfoPanel* panel) { panel_ = panel; }
    // The instrument shown changed (or none is: empty ticker).
    void setInstrument(const TSecShareRecord* security);

    // A send, as the sender answered it. A transaction not handed over is told as not sent.
    void noteSent(const std::optional<SentTransaction>& sent, TransKind kind, Side side, std::int64_t price,
                  std::int64_t quantity, std::uint64_t orderKey);
    // Why an order was not sent, told like a rejection.
    void showRefusal(const std::string& text) { showPanel(text, now()); }
    // Cancels sent one by one for one command (their TRANS_IDs): the panel says how many went,
    // then, once each has its answer, how many were done.
    void noteCancels(const std::vector<std::uint32_t>& transIds);
    // One tick: new replies and order states, time-outs, the panel's text running out.
    void poll();
    // The script's orders and replies (books from the script): the same facts by other roads,
    // matched by TRANS_ID and order number, so a second report of a reply changes nothing.
    void applyScriptEvents(const std::vector<LinkEvent>& events);
    // Mode TRI: the shown book's own quantities, read well this tick.
    void noteBook(const TQuoteTable& table);
    // A book that carries no own quantities (priced rows) gets the balances of the orders resting
    // at each of its prices.
    void fillOwnQuantities(TQuoteTable& table) const;

    const OrderTracker& tracker() const { return tracker_; }
    // New orders of the instrument shown still waiting for the terminal's answer.
    void unansweredOrders(std::vector<PendingQuantity>& into) { tracker_.unansweredOrders(into); }
    // Where orders were rejected since the last call (side and price), for the ladder to show.
    std::vector<PendingQuantity> takeRejections();
    // Whether the own orders changed since the last call.
    bool takeOrdersChanged();

private:
    TrackerTime now() const;
    void applyReply(const TransReply& reply, TrackerTime now);
    void applyCommandAnswer(const LinkCommandAnswer& answer, TrackerTime now);
    void tell(const ReplyOutcome& outcome, TrackerTime now);
    void showPanel(const std::string& text, TrackerTime now);
    void tellCancelsDone(TrackerTime now);
    // A reported price in ticks of the instrument shown; 0, logged, when it is not a price.
    std::int64_t reportedPrice(double price, std::uint64_t orderNumber);

    Log& log_;
    TransLibrary& library_;
    Clock& clock_;
    OrderTracker tracker_{"", "", 5};
    std::uint32_t decimals_ = 0;  // of the instrument shown
    ReplySource source_ = ReplySource::None;
    int replyTimeoutSeconds_ = 5;
    std::vector<BookOwnQuantity> bookOwn_;
    std::unique_ptr<ReplyFileFollower> follower_;
    InfoPanel* panel_ = nullptr;
    std::string panelText_;  // the text this put in the panel, while it holds
    TrackerTime panelUntil_{};
    std::uint32_t silentShown_ = 0;  // the TRANS_ID whose "no reply" the panel holds
    std::vector<std::uint32_t> cancels_;
    bool ordersChanged_ = false;
    bool dropsTold_ = false;
    std::vector<PendingQuantity> rejections_;
};

}  // namespace velmora
