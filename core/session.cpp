#include "core/session.h"

#include <algorithm>

#include "core/instrument_change.h"
#include "core/main_view.h"
#include "ladder/ladder_refresh.h"
#include "orders/stop_orders.h"
#include "secs/security_list.h"
#include "settings/alarms.h"
#include "settings/normalized_text.h"
#include "settings/ini_file.h"
#include "terminal/memory_book_source.h"

namespace velmora {

Session::Session(Platform platform, SessionOptions options)
    : platform_(platform),
      log_(platform.clock, platform.locale, platform.messages),
      programDir_(std::move(options.programDir)),
      settingsPath_(programDir_.empty() ? std::string() : programDir_ + "Velmora.ini"),
      linkNow_(std::move(options.linkNow)),
      books_(memoryBooks()) {}

Session::~Session() = default;

std::unique_ptr<BookSource> Session::memoryBooks() {
    BookSourceEvents& events = *this;
    return std::make_unique<MemoryBookSource>(settings_, log_, platform_.processes, terminal_, discovery_, securityList_,
                                              events);
}

OrderDelivery& Session::delivery() {
    switch (settings_.outputMode) {
        case OutputMode::TRI: return fileDelivery_;
        case OutputMode::DLL: return library_;
        case OutputMode::Script: return script_.delivery();
        case OutputMode::LogOnly: break;
    }
    return logOnly_;
}

void Session::terminalProcessLost() {
    // The library's link went with the terminal; a new terminal needs a new one.
    if (library_.connected()) library_.disconnect();
}

void Session::terminalTakenAgain() {
    // Local stops belong to the instrument shown; another one under the same ticker does not inherit them.
    const TerminalWatch& watch = terminal_.watch();
    const TSecShareRecord* shown = books_->shownSecurity();
    if (shown && stopOrders_ && stopOrders_->Count() > 0 &&
        (NormalizedText(shown->Ticker) != NormalizedText(watch.lostTicker) ||
         (!watch.lostClassCode.empty() && shown->ClassCode != watch.lostClassCode))) {
        log_.LogMessage("local stops cleared: " + shown->Ticker + " is not the instrument they were set for", 1);
        stopOrders_->Clear();
    }
    if (settings_.outputMode == OutputMode::DLL) library_.connect();
}

void Session::followShownInstrument() {
    const TSecShareRecord* shown = books_->shownSecurity();
    const std::string classCode = shown ? shown->ClassCode : std::string();
    const std::string ticker = shown ? shown->Ticker : std::string();
    if (classCode == followedClass_ && ticker == followedTicker_) return;
    followedClass_ = classCode;
    followedTicker_ = ticker;
    tracking_.setInstrument(shown);
    if (shown && settings_.outputMode == OutputMode::DLL) library_.followOrders(classCode, ticker);
}

void Session::showShownBook() {
    TQuoteTable* book = books_->shownBook();
    const TSecShareRecord* security = books_->shownSecurity();
    if (!book || !security) return;
    extras_.pending.clear();
    tracking_.unansweredOrders(extras_.pending);
    extras_.position = books_->shownPositionMark();
    extras_.volume = books_->shownVolume();
    if (settings_.ladderMode == LadderMode::Levels)
        return ShowQuoteTable(ladder_, settings_.DOMRowCount, *book, *security, log_, extras_);
    const int rows = visibleLadderRows_ > 1 ? visibleLadderRows_ : settings_.DOMRowCount;
    axis_.setShape(security->IntPriceStep, rows - 1);
    const TQuoteRecord* bid = book->BestBid();
    const TQuoteRecord* ask = book->BestAsk();
    axis_.follow(bid ? std::optional<std::int64_t>(bid->IntPrice) : std::nullopt,
                 ask ? std::optional<std::int64_t>(ask->IntPrice) : std::nullopt, pointerOverLadder_);
    ShowQuoteTableOnAxis(ladder_, rows, *book, *security, axis_, log_, extras_);
}

void Session::showLadderAgain() {
    if (!instrumentChosen()) return;
    showShownBook();
    orders_.ShowStopQuantities();
}

void Session::ResetVolume() {
    books_->resetVolume();
    showLadderAgain();
}

void Session::CenterLadder() {
    const TQuoteTable* book = books_->shownBook();
    if (!book) return;
    const TQuoteRecord* bid = book->BestBid();
    const TQuoteRecord* ask = book->BestAsk();
    axis_.center(bid ? std::optional<std::int64_t>(bid->IntPrice) : std::nullopt,
                 ask ? std::optional<std::int64_t>(ask->IntPrice) : std::nullopt);
    showLadderAgain();
}

void Session::ScrollLadder(int rows) {
    axis_.scroll(rows);
    showLadderAgain();
}

void Session::setVisibleLadderRows(int rows) {
    if (settings_.ladderMode == LadderMode::Levels || rows == visibleLadderRows_) return;
    visibleLadderRows_ = rows;
    ladder_.setRowCount(rows);
    showLadderAgain();
}

void Session::setPointerOverLadder(bool over) {
    pointerOverLadder_ = over;
    if (over) return;
    const PriceAxis::Away before = axis_.away();
    axis_.pointerLeft();
    if (before != PriceAxis::Away::None) showLadderAgain();
}

bool Session::RefreshDOM() {
    if (!instrumentChosen()) return false;
    // Before the read, which logs the book: the log then shows the own quantities too.
    if (!books_->ownQuantitiesInBooks()) tracking_.fillOwnQuantities(*books_->shownBook());
    const bool read = books_->readShownBook();
    showShownBook();
    return read;
}

void Session::saveSettings() const { SaveConf(settingsPath_, settings_); }

void Session::setLadderHeader(const std::array<std::string_view, LadderGrid::ColumnCount>& texts) {
    for (int column = 0; column < LadderGrid::ColumnCount; ++column)
        ladder_.setCell(0, column, std::string(texts[static_cast<std::size_t>(column)]));
}

void Session::RefreshQuoteTables(InstrumentChooser& chooser) { books_->rediscover(chooser); }

void Session::UseDomBase(TerminalAddress base, MainView& view) { books_->useDomBase(base, settingsPath_, view); }

void Session::SecNameChange(MainView& view) {
    ChangeInstrument(*books_, settings_, stopOrders_.get(), log_, view);
    // Another instrument's prices: its rows are placed afresh on its own book.
    axis_ = PriceAxis{};
}

void Session::PollBooks(MainView& view) {
    if (closing_) return;
    bool bookChanged = books_->poll(view);
    // An answer to an order is told as it comes, not on the next tick. The orders wait for the
    // instrument's `sec` line: the tracker passes over orders of an instrument it does not follow,
    // and a pipe may hand them over before it.
    if (script_.opened() && instrumentChosen()) {
        followShownInstrument();
        tracking_.applyScriptEvents(script_.link().takeTradingEvents());
        if (tracking_.takeOrdersChanged()) {
            view.showOwnOrders(tracking_.tracker().activeOrders());
            books_->ownOrdersChanged();
            bookChanged = true;
        }
    }
    if (bookChanged && instrumentChosen()) {
        const bool fresh = RefreshDOM();
        if (!terminal_.watch().lost) terminal_.watch().noteBookRead(log_, view, fresh);
        showAuction(view);
        orders_.ShowStopQuantities();
        view.ladderChanged();
    }
    showPosition(view);
}

void Session::showPosition(MainView& view) {
    PositionLine line = books_->positionText(log_.locale().decimalSeparator());
    if (line == positionShown_) return;
    positionShown_ = std::move(line);
    view.setPositionText(positionShown_);
}

void Session::showAuction(MainView& view) {
    static const char* const auctionCaption = "Стакан пересечён: аукцион";
    const bool crossed = instrumentChosen() && terminal_.watch().ladderLive() && books_->shownBook()->Crossed();
    if (crossed == auctionShown_) return;
    auctionShown_ = crossed;
    if (crossed) {
        log_.LogMessage("the book is crossed (an auction): market-priced orders refused, stops held", 1);
        view.post(PanelKind::Auction, auctionCaption);
    } else {
        log_.LogMessage("the book is no longer crossed", 1);
        view.withdraw(PanelKind::Auction);
    }
}

}  // namespace velmora
