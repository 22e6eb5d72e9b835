#include "core/session.h"

#include <algorithm>

#include "core/main_view.h"
#include "ladder/ladder_refresh.h"
#include "orders/stop_orders.h"
#include "secs/security_list.h"
#include "settings/alarms.h"
#include "settings/normalized_text.h"
#include "terminal/memory_book_source.h"

namespace velmora {

Session::Session(Platform platform_)
    : platform(platform_), log(platform_.clock, platform_.locale, platform_.messages), books_(memoryBooks()) {}

Session::~Session() = default;

std::unique_ptr<BookSource> Session::memoryBooks() {
    BookSourceEvents& events = *this;
    return std::make_unique<MemoryBookSource>(settings, log, platform.processes, terminal, discovery, SecurityList,
                                              events);
}

OrderDelivery& Session::delivery() {
    switch (settings.outputMode) {
        case OutputMode::TRI: return fileDelivery;
        case OutputMode::DLL: return library;
        case OutputMode::Script: return script_.delivery();
        case OutputMode::LogOnly: break;
    }
    return logOnly;
}

void Session::SendNewOrder(Side side, std::int32_t Quantity, std::int64_t price) {
    orders.SendNewOrder(side, Quantity, price);
}

void Session::SendKillAll() { orders.SendKillAll(nullptr); }

void Session::terminalProcessLost() {
    // The library's link went with the terminal; a new terminal needs a new one.
    if (library.connected()) library.disconnect();
}

void Session::terminalTakenAgain() {
    // Local stops belong to the instrument shown; another one under the same ticker does not inherit them.
    const TerminalWatch& watch = terminal.watch();
    const TSecShareRecord* shown = books_->shownSecurity();
    if (shown && StopOrders && StopOrders->Count() > 0 &&
        (NormalizedText(shown->Ticker) != NormalizedText(watch.lostTicker) ||
         (!watch.lostClassCode.empty() && shown->ClassCode != watch.lostClassCode))) {
        log.LogMessage("local stops cleared: " + shown->Ticker + " is not the instrument they were set for", 1);
        StopOrders->Clear();
    }
    if (settings.outputMode == OutputMode::DLL) library.connect();
}

void Session::followShownInstrument() {
    const TSecShareRecord* shown = books_->shownSecurity();
    const std::string classCode = shown ? shown->ClassCode : std::string();
    const std::string ticker = shown ? shown->Ticker : std::string();
    if (classCode == followedClass_ && ticker == followedTicker_) return;
    followedClass_ = classCode;
    followedTicker_ = ticker;
    tracking.setInstrument(shown);
    if (shown && settings.outputMode == OutputMode::DLL) library.followOrders(classCode, ticker);
}

void Session::showShownBook() {
    TQuoteTable* book = books_->shownBook();
    const TSecShareRecord* security = books_->shownSecurity();
    if (!book || !security) return;
    ShowQuoteTable(ladder, settings.DOMRowCount, *book, *security, log);
}

bool Session::RefreshDOM() {
    if (!instrumentChosen()) return false;
    // Before the read, which logs the book: the log then shows the own quantities too.
    if (!books_->ownQuantitiesInBooks()) tracking.fillOwnQuantities(*books_->shownBook());
    const bool read = books_->readShownBook();
    showShownBook();
    return read;
}

void Session::RefreshQuoteTables(InstrumentChooser& chooser) { books_->rediscover(chooser); }

void Session::UseDomBase(TerminalAddress base, MainView& view) { books_->useDomBase(base, SettingsPath, view); }

void Session::SecNameChange(MainView& view) {
    if (log.enabled(5)) log.LogMessage("Changing sec...", 5);
    const int selected = view.selectedInstrumentIndex();
    const TSecShareRecord* before = books_->shownSecurity();
    const std::string stopsTicker = before ? before->Ticker : std::string();
    const std::vector<InstrumentItem>& items = books_->offered();
    if (selected >= 0 && selected < static_cast<int>(items.size()))
        settings.DefaultContract = items[static_cast<std::size_t>(selected)].ticker;
    books_->choose(selected);
    if (instrumentChosen() && log.enabled(5)) {
        log.LogMessage("QuoteTable:" + books_->shownBook()->Description(), 5);
        log.LogMessage("SecRec:" + SecShareDescription(*books_->shownSecurity()), 5);
    }
    view.setPriceText("");
    // Local stops are kept only for the instrument shown; the user must see that they went.
    if (StopOrders && StopOrders->Count() > 0) {
        const std::string text = "Сняты стопы по " + stopsTicker + ": " + std::to_string(StopOrders->Count());
        StopOrders->Clear();
        log.LogMessage(text, 1);
        view.showNotice(text);
    }
}

void Session::PollBooks(MainView& view) {
    if (AppClosing) return;
    if (books_->poll(view) && instrumentChosen()) {
        const bool fresh = RefreshDOM();
        if (!terminal.watch().lost) terminal.watch().noteBookRead(log, view, fresh);
        showAuction(view);
        orders.ShowStopQuantities();
        view.ladderChanged();
    }
    showPosition(view);
}

void Session::showPosition(MainView& view) {
    PositionLine line = books_->positionText(log.locale().decimalSeparator());
    if (line == positionShown_) return;
    positionShown_ = std::move(line);
    view.setPositionText(positionShown_);
}

void Session::showAuction(MainView& view) {
    static const char* const auctionCaption = "Стакан пересечён: аукцион";
    const bool crossed = instrumentChosen() && terminal.watch().ladderLive() && books_->shownBook()->Crossed();
    if (crossed == auctionShown_) return;
    auctionShown_ = crossed;
    if (crossed) {
        log.LogMessage("the book is crossed (an auction): market-priced orders refused, stops held", 1);
        view.post(PanelKind::Auction, auctionCaption);
    } else {
        log.LogMessage("the book is no longer crossed", 1);
        view.withdraw(PanelKind::Auction);
    }
}

}  // namespace velmora
