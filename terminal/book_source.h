#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "terminal/dombase_scan.h"
#include "terminal/instrument_chooser.h"
#include "terminal/position_text.h"
#include "terminal/script_link_line.h"
#include "terminal/traded_volume.h"

namespace velmora {

class InfoPanel;
class TerminalWaitView;
struct TerminalWatch;
class TQuoteTable;
class TSecShareList;
class WatchView;
struct TSecShareRecord;

using BookTime = std::chrono::steady_clock::time_point;

// What a book source tells the one that wired it, for what it does not own.
class BookSourceEvents {
public:
    virtual ~BookSourceEvents() = default;
    // The terminal process went: whatever was connected to it went with it.
    virtual void terminalProcessLost() = 0;
    // A terminal was taken again after one was lost, its books found anew.
    virtual void terminalTakenAgain() = 0;
};

// What start-up's loading came to.
struct BookSourceLoad {
    bool mustEnd = false;
    std::string boxText;  // said before the program ends
};

// Where the order books come from: the terminal's memory, or velmora.lua over the link. Start-up
// picks one; everything else sees only this. The shown book and its security are both there or
// neither, and live until the next call that may change them (a tick, a choice, a rediscovery).
class BookSource {
public:
    virtual ~BookSource() = default;

    // Start-up, before the window's layout: finds the terminal to read (waiting for it while
    // `closing` is not set). False once `closing` is set.
    virtual bool attach(TerminalWaitView& view, const bool& closing) = 0;
    // Start-up, after the delivery is set up: loads the instruments and offers them.
    virtual BookSourceLoad load(WatchView& view, InstrumentChooser& chooser,
                                const std::function<void()>& letWindowPaint) = 0;
    // Shutdown.
    virtual void close() = 0;

    // First thing in a tick: notices the source going and coming back (`rediscoveryTick`: the
    // moment to look again); answers whether it can be read now.
    virtual bool watch(WatchView& view, InstrumentChooser& chooser, bool rediscoveryTick) = 0;
    // Reads the shown book again: whether it was read and accepted. Logged at level 4.
    virtual bool readShownBook() = 0;
    // Whether books arrive between ticks, to be read by poll() as they come.
    virtual bool arrivesBetweenTicks() const { return false; }
    // Reads what came on its own; whether the shown book changed since it was last read.
    virtual bool poll(WatchView&) { return false; }
    // A handle that becomes readable when something came; -1: none, poll on a timer.
    virtual int readableHandle() const { return -1; }

    // acRefreshQuoteTables and rediscovery: the instruments offered again, the shown one kept.
    virtual void rediscover(InstrumentChooser& chooser) = 0;
    // The user picked item `index` of those offered.
    virtual void choose(int index) = 0;
    virtual const std::vector<InstrumentItem>& offered() const = 0;
    // Nothing can ever be offered (the instruments to ask for name none): a book is wanted that
    // cannot come.
    virtual bool offersNothing() const { return false; }

    virtual TQuoteTable* shownBook() = 0;
    virtual const TSecShareRecord* shownSecurity() = 0;
    // The securities file's list, where there is one.
    virtual const TSecShareList* securities() const { return nullptr; }

    // Whether the books carry the own orders' quantities; when not, they come from the orders.
    virtual bool ownQuantitiesInBooks() const = 0;
    // The own orders changed: a book that takes its own quantities from them is shown and logged anew.
    virtual void ownOrdersChanged() {}
    // Orders, trades and replies the source reported since the last call, in arrival order.
    virtual std::vector<LinkEvent> takeTradingEvents() { return {}; }
    // Whether this source tells positions at all.
    virtual bool reportsPositions() const { return false; }
    // The position line above the ladder; empty where the position is not known.
    virtual PositionLine positionText(char /*decimalSeparator*/) const { return {}; }
    // The shown instrument's position in whole lots, long above zero; none where it is not known.
    virtual std::optional<std::int64_t> shownPositionLots() const { return std::nullopt; }
    // Where the shown position was entered; none while flat or not known.
    virtual std::optional<PositionMark> shownPositionMark() const { return std::nullopt; }
    // Whether this source tells the market's anonymous trades (the tape) at all.
    virtual bool tellsTape() const { return false; }
    // The shown instrument's traded volume and last trade; null where there is no tape.
    virtual const TradedVolume* shownVolume() const { return nullptr; }
    // acResetVolume: every instrument's volumes start again from nothing.
    virtual void resetVolume() {}
    // A notice for the panel once the ladder is live (which terminal was taken); taken once.
    virtual std::string takeLiveNotice() { return {}; }

    // "Найти адрес": the scan of the attached terminal for DOMBASE, offered while its book does
    // not read; the address the user took, written into the ini at `settingsPath`.
    virtual bool domBaseScanOffered() const { return false; }
    // The process the scan reads and its folder, with a warning when it is not the terminal of
    // QuikPath (orders would go to QuikPath's files all the same).
    virtual std::string domBaseScanTarget() const { return {}; }
    virtual DomBaseScanResult scanForDomBase(const std::function<void(std::uint64_t, std::uint64_t)>&) { return {}; }
    virtual void useDomBase(TerminalAddress, const std::string& /*settingsPath*/, InstrumentChooser&) {}
};

}  // namespace velmora
