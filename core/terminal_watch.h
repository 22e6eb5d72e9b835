#pragma once
#include <string>

namespace velmora {

class Program;
class MainView;

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

    bool ladderLive() const { return !lost && !notRead && !awaitingRead; }
};

constexpr int NotReadTicks = 10;

// First thing in a tick: notices that the terminal process has ended, and while it is lost
// looks for a terminal again on every 50th tick. Answers whether the terminal can be read.
bool WatchTerminal(Program& program, MainView& view);

// After the ladder refresh: whether the shown book was read and accepted. A tick without a
// book to read while an instrument is wanted counts as a failed read.
void NoteBookRead(Program& program, MainView& view, bool accepted);
void NoteNoBookShown(Program& program, MainView& view);

// Checked by every command that sends or places what is priced from the book. When the
// ladder is not live it logs the refusal, says why in pnlInfo and answers false.
bool OrderAllowed(Program& program, MainView& view, const char* command);
bool StopAllowed(Program& program, MainView& view, const char* command);
// Cancelling is the safe direction: refused only while the terminal is gone, since a queued
// line would run later at an unknown moment.
bool KillAllAllowed(Program& program, MainView& view);

}  // namespace velmora
