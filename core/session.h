#pragma once
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/script_channel.h"
#include "ladder/ladder_grid.h"
#include "ladder/price_axis.h"
#include "platform/message_sink.h"
#include "orders/order_entry.h"
#include "orders/order_mover.h"
#include "orders/order_tracking.h"
#include "settings/log.h"
#include "settings/settings.h"
#include "terminal/book_source.h"
#include "terminal/position_text.h"
#include "terminal/dombase_scan.h"
#include "terminal/quote_discovery.h"
#include "terminal/script_link.h"
#include "terminal/terminal_link.h"
#include "trans/order_delivery.h"
#include "trans/transactions.h"

namespace velmora {

class Clock;
class LocaleFormats;
class MainView;
class ProcessAccess;
class TransLibrary;
class TAlarms;
class TStopOrders;
class TSecShareList;

// What the platform provides; owned elsewhere (the window's main or a test).
struct Platform {
    ProcessAccess& processes;
    Clock& clock;
    LocaleFormats& locale;
    MessageSink& messages;
    TransLibrary& transLibrary;
};

// What main or a test decides before start-up.
struct SessionOptions {
    // Where Velmora.ini and the log are, with its trailing separator; empty: the program's own folder.
    std::string programDir;
    // The clock of the script link's liveness.
    std::function<LinkTime()> linkNow = [] { return std::chrono::steady_clock::now(); };
};

// One run of the program: creates the components and wires them to each other, and runs
// start-up, the refresh tick and shutdown over them. Touched only from the window's thread.
// Boxes are only queued on the platform's messages; the window shows them once a command or
// tick has returned, so nothing runs under a command that could free what it holds.
class Session : private OrderSource, private BookSourceEvents {
public:
    explicit Session(Platform platform, SessionOptions options = {});
    ~Session() override;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Start-up, run once from the window's own queue after the window exists.
    void InitAll(MainView& view);
    // Shutdown, run as the window is destroyed.
    void DoneAll();
    // One tick of the refresh timer.
    void RefreshTick(MainView& view);
    // The window was closed: a pending wait for the terminal ends, the timer stops at its next tick.
    void FormClose() { closing_ = true; }

    // Books that arrive between ticks: the window calls PollBooks whenever the handle is readable
    // (or on a short timer where there is none); a changed shown book is repainted at once.
    bool booksArriveBetweenTicks() const { return books_->arrivesBetweenTicks(); }
    int booksReadableHandle() const { return books_->readableHandle(); }
    void PollBooks(MainView& view);

    // The order commands of the window, on the shown security.
    // An order sent shows on the ladder at once, unanswered.
    void BuyAtEditorPrice(OrderEditors& view) { orders_.BuyAtEditorPrice(view); showLadderAgain(); }
    void SellAtEditorPrice(OrderEditors& view) { orders_.SellAtEditorPrice(view); showLadderAgain(); }
    void MarketBuy(OrderEditors& view) { orders_.MarketBuy(view); showLadderAgain(); }
    void MarketSell(OrderEditors& view) { orders_.MarketSell(view); showLadderAgain(); }
    void MarketPlusBuy(OrderEditors& view) { orders_.MarketPlusBuy(view); showLadderAgain(); }
    void MarketPlusSell(OrderEditors& view) { orders_.MarketPlusSell(view); showLadderAgain(); }
    void ClearAllOrders(OrderEditors& view) { orders_.ClearAllOrders(view); }
    // acFlatten and acReverse: the own orders cancelled, then the position closed or turned over.
    void Flatten(OrderEditors& view) { orders_.Flatten(view); }
    void Reverse(OrderEditors& view) { orders_.Reverse(view); }
    // The own-order column `column` (LadderGrid::OwnSell or OwnBuy) pressed at one row and released
    // at another: those orders move to the released row's price.
    void MoveOrders(OrderEditors& view, int column, int pressedRow, int releasedRow) {
        mover_.MoveOrders(view, column, pressedRow, releasedRow);
    }
    void ClearAllStops() { orders_.ClearAllStops(); }
    void SetStop(OrderEditors& view) { orders_.SetStop(view); }
    void PriceStep(OrderEditors& view, OrderEntry::PriceMove move) { orders_.PriceStep(view, move); }
    void LadderMouseDown(OrderEditors& view, MouseButton button, bool shift, int column, int row) {
        orders_.LadderMouseDown(view, button, shift, column, row);
        showLadderAgain();
    }
    // Priced in the shown security's ticks; nothing while there is none.
    void SendNewOrder(Side side, std::int32_t Quantity, std::int64_t price) { orders_.SendNewOrder(side, Quantity, price); }
    void SendKillAll() { orders_.SendKillAll(nullptr); }
    void AddStopOrder(Side side, std::int64_t price, std::int32_t quantity) { orders_.AddStopOrder(side, price, quantity); }

    // The ladder of prices (LadderMode=PRICES): acCenter puts the spread in the middle; the wheel
    // scrolls by rows; while the pointer is over the ladder nothing else moves its rows.
    void CenterLadder();
    void ScrollLadder(int rows);
    void setPointerOverLadder(bool over);
    // As many rows as the window's ladder shows, its header row included.
    void setVisibleLadderRows(int rows);
    // acResetVolume: the traded volumes start again from nothing.
    void ResetVolume();
    // Where orders were rejected since the last call, for the ladder to flash their rows.
    std::vector<PendingQuantity> takeRejections() { return tracking_.takeRejections(); }
    // Where the market went while the rows were held still.
    PriceAxis::Away ladderAway() const { return axis_.away(); }

    // acRefreshQuoteTables: the instruments offered again, the shown book re-pointed.
    void RefreshQuoteTables(InstrumentChooser& chooser);
    // cbSecNameChange: the user picked an instrument.
    void SecNameChange(MainView& view);

    // The window's "Найти адрес": offered while the book of the attached terminal does not read
    // (a wrong DOMBASE); the scan of its memory, best candidates first; the one the user took.
    bool domBaseScanOffered() const { return books_->domBaseScanOffered(); }
    std::string domBaseScanTarget() const { return books_->domBaseScanTarget(); }
    DomBaseScanResult ScanAttachedTerminal(const std::function<void(std::uint64_t, std::uint64_t)>& progress) {
        return books_->scanForDomBase(progress);
    }
    void UseDomBase(TerminalAddress base, MainView& view);

    // The settings as the window's editors and geometry have them now.
    void applySettings(const Settings& edited) { settings_ = edited; }
    // Writes the settings into Velmora.ini; a failure throws.
    void saveSettings() const;
    // The window's own parts of the ladder: its number of rows and the header row's texts.
    void setLadderRows(int rows) { ladder_.setRowCount(rows); }
    void setLadderHeader(const std::array<std::string_view, LadderGrid::ColumnCount>& texts);
    // The cells written since the last call, for the window to repaint.
    void takeLadderChanges(std::vector<LadderGrid::CellRef>& into) { ladder_.takeChangedCells(into); }
    // A box for the user, shown once the command or tick has returned; those queued, now.
    void showMessage(const std::string& text) { platform_.messages.show(text); }
    void showPendingMessages() { platform_.messages.showPending(); }
    Log& log() { return log_; }

    // What the window shows and how the session stands, read-only.
    const Settings& settings() const { return settings_; }
    const std::string& settingsPath() const { return settingsPath_; }
    const LadderGrid& ladder() const { return ladder_; }
    const BookSource& books() const { return *books_; }
    bool instrumentChosen() const { return books_->shownBook() != nullptr && books_->shownSecurity() != nullptr; }
    const TSecShareRecord* shownInstrument() const { return books_->shownSecurity(); }
    const TQuoteTable* shownBook() const { return books_->shownBook(); }
    const TSecShareList* securityList() const { return securityList_.get(); }
    const TStopOrders* localStops() const { return stopOrders_.get(); }
    const TerminalLink& terminal() const { return terminal_; }
    bool libraryConnected() const { return library_.connected(); }
    const OrderTracker& tracker() const { return tracking_.tracker(); }
    // The TRANS_ID the next transaction takes.
    std::int32_t nextTransId() const { return sender_.TransIdCounter; }
    std::uint32_t cycle() const { return cycleNum_; }
    bool closing() const { return closing_; }

private:
    // OrderSource
    TQuoteTable* shownTable() override { return books_->shownBook(); }
    const TSecShareRecord* shownSecurity() override { return books_->shownSecurity(); }
    TStopOrders* stops() override { return stopOrders_.get(); }
    const TSecShareList* securities() override { return books_->securities(); }
    std::optional<std::int64_t> shownPositionLots() override { return books_->shownPositionLots(); }
    // The delivery OutputWay names.
    OrderDelivery& delivery() override;

    // BookSourceEvents
    void terminalProcessLost() override;
    void terminalTakenAgain() override;

    std::unique_ptr<BookSource> memoryBooks();
    // Start-up's steps.
    bool loadSettings(MainView& view, std::vector<std::string>& notices);
    void prepareOrders(MainView& view);
    void chooseBookSource();
    // Reads the shown book again and maps it onto the ladder.
    bool RefreshDOM();
    // Maps the shown book onto the ladder.
    void showShownBook();
    // The rows drawn again from the book held, with stops: the ladder of prices moved, or an order
    // went out.
    void showLadderAgain();
    // The tracker and the library's order subscription follow the instrument shown.
    void followShownInstrument();
    void showPosition(MainView& view);
    // While the shown book is crossed (an exchange's auction) the panel says so.
    void showAuction(MainView& view);

    Platform platform_;
    Log log_;
    Settings settings_;

    std::string programDir_;  // with its trailing separator
    std::string settingsPath_;
    std::function<LinkTime()> linkNow_;

    bool closing_ = false;
    std::uint32_t cycleNum_ = 0;

    FileDelivery fileDelivery_{settings_, log_};
    LibraryDelivery library_{platform_.transLibrary, settings_, log_};
    LogOnlyDelivery logOnly_{log_};
    OrderSender sender_{settings_, log_, platform_.messages};
    OrderTracking tracking_{log_, platform_.transLibrary, platform_.clock};

    TerminalLink terminal_;
    QuoteDiscovery discovery_;
    LadderGrid ladder_;

    // Created by start-up, freed by shutdown.
    std::unique_ptr<TStopOrders> stopOrders_;
    std::unique_ptr<TAlarms> alarms_;
    std::unique_ptr<TSecShareList> securityList_;
    std::string lastAlarmText_;

    OrderEntry orders_{settings_, log_, terminal_.watch(), ladder_, sender_, tracking_, *this};
    OrderMover mover_{log_, terminal_.watch(), ladder_, sender_, tracking_, *this};
    ScriptChannel script_{log_, [this] { return linkNow_(); }};
    PriceAxis axis_;
    bool pointerOverLadder_ = false;
    int visibleLadderRows_ = 0;
    LadderExtras extras_;  // kept: its list's storage serves every refresh

    std::unique_ptr<BookSource> books_;
    std::string followedClass_;
    std::string followedTicker_;
    PositionLine positionShown_;
    bool auctionShown_ = false;
};

}  // namespace velmora
