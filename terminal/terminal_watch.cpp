#include "terminal/terminal_watch.h"

#include "settings/log.h"

namespace velmora {

const WatchTexts terminalWatchTexts{"Нет связи с терминалом", "Стакан не читается (проверьте DOMBASE)",
                                    "Терминал найден, загрузка стакана...", "Файл sec.dat не прочитан: ",
                                    [](const std::string&) { return std::string("check DOMBASE"); }};

namespace {

const char* const serverLostCaption = "Терминал не подключён к серверу";
const char* const linesRejectedCaption = "Стакан не обновляется: строки скрипта отклонены";

std::string stateCaption(const TerminalWatch& watch) {
    if (watch.lost && watch.serverLost) return serverLostCaption;
    const WatchTexts& texts = *watch.texts;
    if (watch.lost && !watch.lostCause.empty()) return std::string(texts.lost) + ": " + watch.lostCause;
    if (watch.lost) return texts.lost;
    if (watch.notRead && watch.linesRejected) return linesRejectedCaption;
    // A securities file that did not read leaves no book to find, whatever DOMBASE says.
    if (watch.notRead && !watch.notReadCause.empty())
        return texts.notReadCauseLead + watch.notReadCause;
    if (watch.notRead) return texts.notRead;
    return texts.awaiting;
}

const char* stateReason(const TerminalWatch& watch) {
    if (watch.lost && watch.serverLost) return "terminal not connected to its server";
    if (watch.lost) return "terminal lost";
    if (watch.notRead && watch.linesRejected) return "the script's book lines rejected";
    if (watch.notRead) return "order book not read";
    return "order book not read yet since the terminal was found again";
}

}  // namespace

void TerminalWatch::showCaption(InfoPanel& view) const { view.post(PanelKind::BookNotLive, caption); }

void TerminalWatch::applyLook(WatchView& view, bool wasLive) {
    const bool live = ladderLive();
    if (live != wasLive) view.setLadderLive(live);
    if (live) {
        // Only its own caption goes; an alarm's stays.
        if (!wasLive) view.withdraw(PanelKind::BookNotLive);
        caption.clear();
        return;
    }
    caption = stateCaption(*this);
    showCaption(view);
}

void TerminalWatch::becomeLost(bool server) {
    lost = true;
    serverLost = server;
    notRead = false;
    linesRejected = false;
    awaitingRead = false;
    failedReads = 0;
}

void TerminalWatch::terminalLost(Log& log, std::uint32_t processId, bool opened, const std::string& ticker,
                                 const std::string& classCode) {
    becomeLost(false);
    lostTicker = ticker;
    lostClassCode = classCode;
    log.LogMessage("terminal lost: process " + std::to_string(processId) +
                       (opened ? " has ended" : " could not be opened") +
                       "; orders are refused until a terminal is found again",
                   1);
}

void TerminalWatch::terminalDisconnected(Log& log) {
    becomeLost(true);
    log.LogMessage("terminal not connected to its server: orders are refused until it is back", 1);
}

void TerminalWatch::bookLinesRejected(Log& log, WatchView& view) {
    if (lost || (notRead && linesRejected)) return;
    const bool wasLive = ladderLive();
    notRead = true;
    linesRejected = true;
    log.LogMessage("order book not updated: the script's lines for it rejected for 1 s; orders are refused until a "
                   "good book comes",
                   1);
    applyLook(view, wasLive);
}

void TerminalWatch::linkLost(Log& log, const std::string& reason) {
    becomeLost(false);
    log.LogMessage("link to velmora.lua lost: " + reason + "; orders are refused until it is back", 1);
}

void TerminalWatch::terminalFound() {
    lost = false;
    serverLost = false;
    awaitingRead = true;
    failedReads = 0;
}

void TerminalWatch::noteBookRead(Log& log, WatchView& view, bool accepted) {
    if (lost) return;
    const bool wasLive = ladderLive();
    if (accepted) {
        failedReads = 0;
        if (wasLive) return;
        notRead = false;
        linesRejected = false;
        awaitingRead = false;
        log.LogMessage("order book read again: the ladder is live, orders allowed", 1);
        applyLook(view, wasLive);
        return;
    }
    if (notRead) return;
    if (++failedReads < NotReadTicks) return;
    notRead = true;
    log.LogMessage("order book not read for " + std::to_string(NotReadTicks) + " ticks: orders are refused (" +
                       texts->notReadLogReason(notReadCause) + ")",
                   1);
    applyLook(view, wasLive);
}

void TerminalWatch::noteNoBookShown(Log& log, WatchView& view, bool bookWanted) {
    // Nothing wanted (a first run) is no failure; a wanted book that discovery did not find is.
    if (bookWanted) noteBookRead(log, view, false);
}

bool TerminalWatch::refuse(Log& log, InfoPanel& view, const char* command, const char* refusedText) {
    log.LogMessage(std::string("refused ") + command + ": " + stateReason(*this), 1);
    caption = stateCaption(*this) + ": " + refusedText;
    showCaption(view);
    return false;
}

bool TerminalWatch::orderAllowed(Log& log, InfoPanel& view, const char* command) {
    if (ladderLive()) return true;
    return refuse(log, view, command, "заявка не отправлена");
}

bool TerminalWatch::stopAllowed(Log& log, InfoPanel& view, const char* command) {
    if (ladderLive()) return true;
    return refuse(log, view, command, "стоп не выставлен");
}

bool TerminalWatch::killAllAllowed(Log& log, InfoPanel& view) {
    if (!lost) return true;
    return refuse(log, view, "acClearAllOrders", "снятие заявок не отправлено");
}

}  // namespace velmora
