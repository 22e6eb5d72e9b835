#pragma once
#include <cstdint>
#include <string>

#include "settings/info_panel.h"

namespace velmora {

class Log;

// The panel and the ladder's look, as the watch sets them.
class WatchView : public virtual InfoPanel {
public:
    // Whether the ladder shows a book being read: when not, its cells are drawn in grey
    // without the ask and bid colours, their texts unchanged.
    virtual void setLadderLive(bool live) = 0;
};

constexpr int NotReadTicks = 10;

// What the watch says, in the words of where the books come from.
struct WatchTexts {
    const char* lost;              // gone
    const char* notRead;           // the shown book does not read
    const char* awaiting;          // back; its book not read yet
    const char* notReadCauseLead;  // before the known cause no book can be read for
    // Why orders are refused while the book does not read, for the log, from the known cause.
    std::string (*notReadLogReason)(const std::string& cause);
};

// The terminal's memory's words.
extern const WatchTexts terminalWatchTexts;

// Whether the ladder may be trusted: the terminal process can go away (a daily restart) and
// the shown book can stop reading (a wrong DOMBASE). While either holds the ladder keeps its
// last rows in grey and nothing priced from them is sent.
struct TerminalWatch {
    bool lost = false;          // the opened terminal process has ended
    bool notRead = false;       // the shown book has not read well for NotReadTicks ticks
    bool awaitingRead = false;  // found again; its book not read yet
    int failedReads = 0;        // consecutive ticks without a good read of the shown book
    std::string lostTicker;     // the instrument shown when the terminal went
    std::string lostClassCode;
    std::string caption;        // what pnlInfo says while the ladder is not live
    // Why no book can be read whatever DOMBASE says (the securities file did not read; via the
    // script, the whole caption: nothing asked of it to show); empty: none known.
    std::string notReadCause;
    const WatchTexts* texts = &terminalWatchTexts;  // the book source's, set by it
    bool serverLost = false;    // lost because the terminal is not connected to its broker's server
    bool linesRejected = false; // not read because the script's book lines are rejected
    // Why the link cannot come back by itself (its stream blocked); empty: none known.
    std::string lostCause;

    bool ladderLive() const { return !lost && !notRead && !awaitingRead; }

    // The opened process `processId` has ended (`opened`) or could not be opened: logs it and
    // remembers the instrument shown.
    void terminalLost(Log& log, std::uint32_t processId, bool opened, const std::string& ticker,
                      const std::string& classCode);
    // The script's link went (`reason` for the log).
    void linkLost(Log& log, const std::string& reason);
    // The script says the terminal lost its broker's server: no book it shows is the market's.
    void terminalDisconnected(Log& log);
    // A terminal was found again; its book is not read yet.
    void terminalFound();
    // The script's lines for the shown book have been rejected for a while: its book no longer updates.
    void bookLinesRejected(Log& log, WatchView& view);

    // After a change of state: the ladder's look and pnlInfo follow it.
    void applyLook(WatchView& view, bool wasLive);
    // Shows the state's caption in pnlInfo.
    void showCaption(InfoPanel& view) const;

    // After the ladder refresh: whether the shown book was read and accepted. A tick without a
    // book to read while an instrument is wanted (`bookWanted`) counts as a failed read.
    void noteBookRead(Log& log, WatchView& view, bool accepted);
    void noteNoBookShown(Log& log, WatchView& view, bool bookWanted);

    // Checked by every command that sends or places what is priced from the book. When the
    // ladder is not live it logs the refusal, says why in pnlInfo and answers false.
    bool orderAllowed(Log& log, InfoPanel& view, const char* command);
    bool stopAllowed(Log& log, InfoPanel& view, const char* command);
    // Cancelling is the safe direction: refused only while the terminal is gone, since a queued
    // line would run later at an unknown moment.
    bool killAllAllowed(Log& log, InfoPanel& view);

private:
    // Lost, by the server (`server`) or otherwise; whatever was read or awaited is forgotten.
    void becomeLost(bool server);
    bool refuse(Log& log, InfoPanel& view, const char* command, const char* refusedText);
};

}  // namespace velmora
