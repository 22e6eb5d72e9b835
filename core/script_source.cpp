#include <algorithm>
#include <cstdint>

#include "core/main_view.h"
#include "core/position_text.h"
#include "core/session.h"
#include "ladder/ladder_refresh.h"
#include "orders/order_entry.h"
#include "settings/log.h"
#include "terminal/link_request.h"

namespace velmora {

namespace {

std::string nameText(const LinkInstrumentName& name) { return name.classCode + ":" + name.ticker; }

// DefaultContract names an instrument by its ticker, or as CLASS:TICKER.
bool namedBy(const std::string& defaultContract, const LinkInstrumentName& name) {
    return !defaultContract.empty() && (defaultContract == name.ticker || defaultContract == nameText(name));
}

}  // namespace

void Session::openScriptLink(MainView& view) {
    TerminalWatch& watch = terminal.watch();
    watch.viaScript = true;
    script = std::make_unique<ScriptLink>(log);
    std::vector<std::string> rejected;
    std::vector<LinkInstrumentName> wanted = ParseInstrumentList(settings.Instruments, rejected);
    if (settings.DefaultContract.find(':') != std::string::npos) {
        std::vector<LinkInstrumentName> named = ParseInstrumentList(settings.DefaultContract, rejected);
        for (const LinkInstrumentName& name : named)
            if (std::find(wanted.begin(), wanted.end(), name) == wanted.end()) wanted.push_back(name);
    }
    for (const std::string& item : rejected)
        log.LogMessage("[SCRIPT] Instruments: \"" + item + "\" is not CLASS:TICKER, or named twice; left out", 1);
    if (wanted.empty()) log.LogMessage("[SCRIPT] Instruments names no instrument: no book to show", 1);
    if (!script->open(settings.QuikPath)) {
        // Kept: the ladder says the link is missing, and nothing priced from a book is sent.
    }
    script->want(wanted);
    watch.linkLost(log, "velmora.lua not heard yet");
    watch.applyLook(view, true);
    refreshScriptChooser(view);
}

void Session::refreshScriptChooser(InstrumentChooser& chooser) {
    std::vector<InstrumentItem> items;
    const auto& instruments = script->instruments();
    for (std::size_t i = 0; i < instruments.size(); ++i)
        items.push_back({instruments[i]->name.ticker, static_cast<int>(i)});
    std::stable_sort(items.begin(), items.end(),
                     [](const InstrumentItem& a, const InstrumentItem& b) { return a.ticker < b.ticker; });
    int selected = -1;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const ScriptInstrument& instrument = *instruments[static_cast<std::size_t>(items[i].tablePosition)];
        if (scriptShown_ ? &instrument == scriptShown_ : namedBy(settings.DefaultContract, instrument.name)) {
            selected = static_cast<int>(i);
            break;
        }
    }
    // Only a change reaches the window: the chooser must not be refilled under the user's hand.
    if (items != scriptOffered_ || chooser.selectedInstrumentIndex() != selected) {
        scriptOffered_ = items;
        chooser.setInstrumentItems(items, selected);
    }
    if (!scriptShown_ && selected >= 0) chooseScriptInstrument(selected);
}

void Session::chooseScriptInstrument(int index) {
    discovery.clearShown();
    scriptShown_ = nullptr;
    scriptShownVersion_ = 0;
    if (index < 0 || index >= static_cast<int>(scriptOffered_.size())) return;
    const int position = scriptOffered_[static_cast<std::size_t>(index)].tablePosition;
    scriptShown_ = script->instruments()[static_cast<std::size_t>(position)].get();
    if (scriptShown_->securityKnown) discovery.show(scriptShown_->table, scriptShown_->security);
}

bool Session::refreshScriptDOM() {
    if (!scriptShown_ || !scriptShown_->securityKnown) return false;
    // Logged as a book read from memory is, so one reader of the log follows both.
    if (scriptShown_->bookVersion != scriptShownVersion_ && log.enabled(4))
        log.LogMessage(scriptShown_->table.Description(), 4);
    // The host's books carry no own quantities: they are the balances of the orders it reported.
    for (TQuoteRecord& row : scriptShown_->table.rows) {
        std::int64_t own = 0;
        for (std::uint64_t number : tracking.tracker().activeAt(row.side(), row.IntPrice))
            own += std::max<std::int64_t>(0, tracking.tracker().order(number)->balance);
        row.SelfQuantity = static_cast<std::uint32_t>(std::min<std::int64_t>(own, UINT32_MAX));
    }
    ShowQuoteTable(ladder, settings.DOMRowCount, scriptShown_->table, scriptShown_->security, log);
    scriptShownVersion_ = scriptShown_->bookVersion;
    // A book left from a stream before this one proves nothing about the script now.
    return scriptShown_->bookKnown && scriptShown_->bookStream == script->streamCount();
}

void Session::updateScriptWatch(MainView& view, LinkTime now) {
    TerminalWatch& watch = terminal.watch();
    const bool live = script->live(now);
    if (live && watch.lost) {
        log.LogMessage("link to velmora.lua live", 1);
        watch.terminalFound();
        watch.applyLook(view, false);
    } else if (!live && !watch.lost) {
        const bool wasLive = watch.ladderLive();
        watch.linkLost(log, script->lostReason(now));
        watch.applyLook(view, wasLive);
    }
    // The `sec` line may come after the instrument was chosen.
    if (scriptShown_ && scriptShown_->securityKnown && !discovery.chosen())
        discovery.show(scriptShown_->table, scriptShown_->security);
}

bool Session::watchScript(MainView& view) {
    const LinkTime now = linkNow();
    script->poll(now);
    updateScriptWatch(view, now);
    TerminalWatch& watch = terminal.watch();
    if (!watch.ladderLive()) watch.showCaption(view);
    showScriptPosition(view);
    return !watch.lost;
}

void Session::PollScriptLink(MainView& view) {
    if (!script || AppClosing) return;
    const LinkTime now = linkNow();
    script->poll(now);
    updateScriptWatch(view, now);
    if (scriptShown_ && scriptShown_->bookVersion != scriptShownVersion_ && instrumentChosen()) {
        const bool fresh = refreshScriptDOM();
        if (!terminal.watch().lost) terminal.watch().noteBookRead(log, view, fresh);
        orders.ShowStopQuantities();
        view.ladderChanged();
    }
    showScriptPosition(view);
}

void Session::showScriptPosition(MainView& view) {
    std::string text = scriptShown_ ? PositionText(*scriptShown_, log.locale().decimalSeparator()) : std::string();
    if (text == scriptPositionShown_) return;
    scriptPositionShown_ = std::move(text);
    view.setPositionText(scriptPositionShown_);
}

std::vector<LinkEvent> Session::takeScriptEvents() {
    return script ? script->takeTradingEvents() : std::vector<LinkEvent>();
}

}  // namespace velmora
