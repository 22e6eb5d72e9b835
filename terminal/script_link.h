#pragma once
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/line_splitter.h"
#include "platform/link_stream.h"
#include "secs/security_list.h"
#include "terminal/link_request.h"
#include "terminal/quote_table.h"
#include "terminal/script_link_line.h"
#include "terminal/traded_volume.h"

namespace velmora {

class Log;

using LinkTime = std::chrono::steady_clock::time_point;

// One instrument asked of the script, with what it last sent about it.
struct ScriptInstrument {
    LinkInstrumentName name;
    bool securityKnown = false;
    TSecShareRecord security;  // from its `sec` line: ticker, class, price step and decimals
    std::string shortName;
    std::int64_t lotSize = 0;  // shares in a lot, for stocks; 0 when the script sent none
    std::optional<double> stepPrice;  // money of one price step (futures); none when not told
    std::optional<LinkBook> book;   // the last one sent, kept until its `sec` line comes
    bool bookKnown = false;
    TQuoteTable table;              // the last book, in the rows the ladder maps
    std::uint64_t bookVersion = 0;  // counts the books taken
    std::uint64_t bookStream = 0;   // the stream it came on (ScriptLink::streamCount)
    std::optional<LinkPosition> position;
    std::uint64_t positionStream = 0;  // the stream the position came on
    // The first and the last of the book lines rejected since the last one taken.
    std::optional<LinkTime> rejectedSince;
    LinkTime lastRejected{};
    // The tape: what traded at each price since start or reset.
    TradedVolume volume;
    // Since when no trade came while books did; told in the log once per silence.
    LinkTime tapeQuietSince{};
    LinkTime lastBookAt{};
    bool tapeQuietTold = false;
};

// Where one run of Velmora meets the script: the link folder (with its separator), the slot
// this run holds there, the run's own id, and the command file's path (empty: no commands).
struct LinkPlace {
    std::string folder;
    int slot = 1;
    std::string run;
    std::string commands;
};

// A run id no earlier run had: 16 lower-case hex digits.
std::string NewRunId();

// A trading account the terminal has, and the classes it trades.
struct TradeAccount {
    std::string account;
    std::string classCodes;
};

// The books, securities, positions and trading events that velmora.lua sends over the link,
// and whether it is there. Untrusted bytes in, checked state out; a bad line is dropped and its
// kind of fault logged once per stream.
class ScriptLink {
public:
    static constexpr std::chrono::milliseconds quietLimit{2000};
    // Book lines of an instrument rejected for this long, none taken between: its book no longer
    // updates. A burst of bad lines and then quiet is a quiet market, not a stale book.
    static constexpr std::chrono::milliseconds rejectedLimit{1000};
    // Far more than come between two takes; beyond it an untaken queue would grow without end.
    static constexpr std::size_t tradingEventCapacity = 100000;
    static constexpr std::chrono::seconds blockedRetry{5};
    static constexpr std::size_t maxAccounts = 1000;
    // No trade of an instrument whose book moves for this long: the terminal may not be sending them.
    static constexpr std::chrono::seconds tapeQuietLimit{60};

    explicit ScriptLink(Log& log) : log_(log) {}
    ~ScriptLink();
    ScriptLink(const ScriptLink&) = delete;
    ScriptLink& operator=(const ScriptLink&) = delete;

    // Serves the stream and writes the request file of the slot. False, logged, when the stream
    // cannot be served at all; a blocked one is tried again by poll.
    bool open(const LinkPlace& place);
    // The instruments to ask for; the request file follows.
    void want(const std::vector<LinkInstrumentName>& names);

    // Reads and applies all that has come. Cheap when nothing has.
    void poll(LinkTime now);
    // The script has said hello on the open stream, not bye, and (while anything is wanted) was
    // heard within quietLimit.
    bool live(LinkTime now) const;
    // The script's hello on the open stream, not bye, and a line within quietLimit, whatever is
    // wanted: what a command needs.
    bool heard(LinkTime now) const;
    // The open stream's id, as its hello gave it; commands carry it.
    const std::string& linkId() const { return linkId_; }
    // The terminal's trading accounts, as the script last listed them on this stream.
    const std::vector<TradeAccount>& accounts() const { return accounts_; }
    // Why it is not live, for the log.
    std::string lostReason(LinkTime now) const;
    // Why the stream cannot be served now, for the panel; empty while it is.
    std::string blockedReason() const { return stream_ ? stream_->blockedReason() : std::string(); }
    // The terminal is connected to its broker's server, as the script last said (`alive`); taken
    // as connected until the script says.
    bool terminalConnected() const { return terminalConnected_; }
    // The book lines of `instrument` kept coming and were rejected for rejectedLimit.
    static bool booksRejected(const ScriptInstrument& instrument) {
        return instrument.rejectedSince && instrument.lastRejected - *instrument.rejectedSince >= rejectedLimit;
    }
    // Counts the streams begun: a book of an earlier one is no proof the script is back.
    std::uint64_t streamCount() const { return streamCount_; }

    const std::vector<std::unique_ptr<ScriptInstrument>>& instruments() const { return instruments_; }
    ScriptInstrument* find(const std::string& classCode, const std::string& ticker);

    // Orders, trades and replies in arrival order, moved out.
    std::vector<LinkEvent> takeTradingEvents();
    // Trading events lost to a full queue since the last take.
    std::size_t droppedTradingEvents() const { return droppedTradingEvents_; }
    // Lines dropped since the stream opened.
    std::size_t droppedLines() const { return droppedLines_; }
    int readableHandle() const { return stream_ ? stream_->readableHandle() : -1; }
    const std::string& streamPath() const;

private:
    void streamStarted();
    void noteBlocked(LinkTime now);
    void apply(std::string_view line, LinkTime now);
    void applySecurity(const LinkSecurity& sec);
    void applyAccount(LinkAccount& account);
    void applyBook(LinkBook& book, LinkTime now);
    void applyTape(const LinkTape& tape, LinkTime now);
    void noteTapeQuiet(LinkTime now);
    void noteRejected(const std::string& classCode, const std::string& ticker, LinkTime now);
    void connectionChanged(bool connected);
    bool takeBook(ScriptInstrument& instrument, const LinkBook& book);
    void drop(LinkFault fault);
    void refreshRequest();

    Log& log_;
    LinkPlace place_;
    std::unique_ptr<LinkStream> stream_;
    std::unique_ptr<LinkRequestFile> request_;
    std::vector<LinkInstrumentName> wanted_;
    LineSplitter reader_{maxLinkLineBytes, CarriageReturn::Kept};  // ParseLinkLine drops the CR
    std::string bytes_;
    std::vector<std::string> lines_;
    std::vector<std::unique_ptr<ScriptInstrument>> instruments_;
    std::vector<LinkEvent> tradingEvents_;

    std::string linkId_;
    std::vector<TradeAccount> accounts_;
    bool hello_ = false;  // a hello came on the stream now open
    bool bye_ = false;
    bool terminalConnected_ = true;
    LinkTime lastLine_{};
    LinkTime lastRetry_{};
    std::size_t droppedLines_ = 0;
    std::size_t droppedTradingEvents_ = 0;
    std::uint64_t streamCount_ = 0;
    std::array<bool, static_cast<std::size_t>(LinkFault::Count_)> faultTold_{};
};

// The book's levels as ladder rows (ascending price, bids first) priced for `security`. False,
// `table` unchanged, when a price is off the security's decimals or out of the rows' range.
bool FillQuoteTable(const LinkBook& book, const TSecShareRecord& security, TQuoteTable& table);

}  // namespace velmora
