#include "terminal/script_link.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

#include "settings/log.h"

namespace velmora {

namespace {

std::uint32_t tenPower(std::uint32_t places) {
    std::uint32_t value = 1;
    for (std::uint32_t i = 0; i < places; ++i) value *= 10;
    return value;
}

// The price as a whole number of 10^-decimals units; nothing when it is not one, or too big.
std::optional<std::uint32_t> intPriceOf(double price, std::uint32_t decimals) {
    const double scaled = price * tenPower(decimals);
    const double whole = std::round(scaled);
    if (whole < 1 || whole > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    if (std::fabs(scaled - whole) > 1e-6 * std::max(1.0, whole) ) return std::nullopt;
    return static_cast<std::uint32_t>(whole);
}

bool appendSide(const std::vector<LinkLevel>& levels, Side side, std::uint32_t decimals,
                std::vector<TQuoteRecord>& rows) {
    for (const LinkLevel& level : levels) {
        const std::optional<std::uint32_t> intPrice = intPriceOf(level.price, decimals);
        if (!intPrice || level.quantity > std::numeric_limits<std::uint32_t>::max()) return false;
        TQuoteRecord row;
        row.setSide(side);
        row.IntPrice = *intPrice;
        row.Quantity = static_cast<std::uint32_t>(level.quantity);
        rows.push_back(row);
    }
    return true;
}

}  // namespace

bool FillQuoteTable(const LinkBook& book, const TSecShareRecord& security, TQuoteTable& table) {
    std::vector<TQuoteRecord> rows;
    rows.reserve(book.bids.size() + book.asks.size());
    // Bids come best first; the rows run up in price.
    std::vector<LinkLevel> bidsUp(book.bids.rbegin(), book.bids.rend());
    if (!appendSide(bidsUp, Side::Buy, security.Decimals, rows) ||
        !appendSide(book.asks, Side::Sell, security.Decimals, rows))
        return false;
    table.rows = std::move(rows);
    return true;
}

std::string NewRunId() {
    std::random_device random;
    const std::uint64_t id = (static_cast<std::uint64_t>(random()) << 32) ^ random();
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(id));
    return text;
}

ScriptLink::~ScriptLink() {
    if (request_) request_->remove();
}

const std::string& ScriptLink::streamPath() const {
    static const std::string none;
    return stream_ ? stream_->path() : none;
}

bool ScriptLink::open(const LinkPlace& place) {
    place_ = place;
    std::string error;
    const std::string slot = "velmora-" + std::to_string(place.slot);
    stream_ = openLinkStream(place.folder, slot + "-" + place.run, error);
    if (!stream_) {
        log_.LogMessage(error, 1);
        return false;
    }
    request_ = std::make_unique<LinkRequestFile>(place.folder + slot + ".txt");
    if (stream_->blockedReason().empty())
        log_.LogMessage("link: serving " + stream_->path() + ", request file " + request_->path(), 1);
    else
        noteBlocked(LinkTime{});
    streamStarted();
    refreshRequest();
    return true;
}

void ScriptLink::want(const std::vector<LinkInstrumentName>& names) {
    wanted_ = names;
    for (const LinkInstrumentName& name : names)
        if (!find(name.classCode, name.ticker)) {
            auto instrument = std::make_unique<ScriptInstrument>();
            instrument->name = name;
            instruments_.push_back(std::move(instrument));
        }
    refreshRequest();
}

void ScriptLink::refreshRequest() {
    if (!request_ || !stream_) return;
    // Without it the script writes nowhere: not into what stands in the stream's place.
    if (!stream_->blockedReason().empty()) {
        request_->remove();
        return;
    }
    std::string error;
    if (!request_->update(place_.run, stream_->path(), wanted_, place_.commands, error)) log_.LogMessage(error, 1);
}

ScriptInstrument* ScriptLink::find(const std::string& classCode, const std::string& ticker) {
    for (const auto& instrument : instruments_)
        if (instrument->name.classCode == classCode && instrument->name.ticker == ticker) return instrument.get();
    return nullptr;
}

void ScriptLink::streamStarted() {
    ++streamCount_;
    reader_.reset();
    hello_ = false;
    bye_ = false;
    linkId_.clear();
    accounts_.clear();
    terminalConnected_ = true;
    droppedLines_ = 0;
    faultTold_.fill(false);
}

void ScriptLink::noteBlocked(LinkTime now) {
    lastRetry_ = now;
    log_.LogRepeating("link: " + stream_->blockedReason() + "; tried again every 5 s", 1);
}

void ScriptLink::poll(LinkTime now) {
    if (!stream_) return;
    if (!stream_->blockedReason().empty()) {
        if (now - lastRetry_ < blockedRetry) return;
        if (!stream_->retry()) return noteBlocked(now);
        log_.LogMessage("link: serving " + stream_->path() + " again", 1);
        streamStarted();
        refreshRequest();
        return;
    }
    bytes_.clear();
    const LinkPoll result = stream_->poll(bytes_);
    if (!bytes_.empty()) {
        lines_.clear();
        reader_.feed(bytes_, lines_);
        for (std::size_t i = reader_.takeOverlongCount(); i > 0; --i) drop(LinkFault::Overlong);
        for (const std::string& line : lines_) apply(line, now);
    }
    if (hello_ && !bye_) noteTapeQuiet(now);
    if (result.writerGone) {
        if (hello_ && !bye_) log_.LogMessage("link: the script closed the stream", 1);
        streamStarted();
        // A request the script may have missed while away is written again when it changes;
        // the script reads the file anew on start anyway.
    }
    if (!stream_->blockedReason().empty()) {
        noteBlocked(now);
        streamStarted();
        refreshRequest();
    }
}

void ScriptLink::drop(LinkFault fault) {
    ++droppedLines_;
    bool& told = faultTold_[static_cast<std::size_t>(fault)];
    if (told) return;
    told = true;
    log_.LogMessage(std::string("link: line dropped: ") + LinkFaultText(fault) +
                        " (each kind of fault is logged once per stream)",
                    1);
}

void ScriptLink::apply(std::string_view line, LinkTime now) {
    LinkParse parsed = ParseLinkLine(line);
    if (!parsed.event) {
        drop(parsed.fault);
        if (hello_ && !bye_) noteRejected(parsed.rejectedClass, parsed.rejectedTicker, now);
        return;
    }
    LinkEvent& event = *parsed.event;
    if (const auto* hello = std::get_if<LinkHello>(&event)) {
        if (hello->version != 2) {
            log_.LogRepeating("link: the script speaks version " + std::to_string(hello->version) +
                                  ", not 2: velmora.lua from this Velmora's folder is needed",
                              1);
            hello_ = false;
            return;
        }
        // What another run asked for, left in the stream, is not ours to show.
        if (hello->run != place_.run) {
            log_.LogRepeating("link: a stream of another run (" + hello->run + ") ignored", 1);
            hello_ = false;
            return;
        }
        // A writer that came back without our seeing it go starts afresh too.
        if (hello_) streamStarted();
        hello_ = true;
        bye_ = false;
        linkId_ = hello->link;
        lastLine_ = now;
        log_.LogMessage("link: velmora.lua " + hello->scriptVersion + " connected, link " + linkId_, 1);
        return;
    }
    // Nothing counts before the hello: it may be the tail of another writer's stream.
    if (!hello_ || bye_) return;
    lastLine_ = now;
    if (const auto* alive = std::get_if<LinkAlive>(&event)) {
        if (alive->terminalConnected != terminalConnected_) connectionChanged(alive->terminalConnected);
    } else if (std::holds_alternative<LinkBye>(event)) {
        // The watch's "lost" line says it.
        bye_ = true;
    } else if (const auto* sec = std::get_if<LinkSecurity>(&event)) {
        applySecurity(*sec);
    } else if (auto* book = std::get_if<LinkBook>(&event)) {
        applyBook(*book, now);
    } else if (auto* position = std::get_if<LinkPosition>(&event)) {
        if (ScriptInstrument* instrument = find(position->classCode, position->ticker)) {
            instrument->position = std::move(*position);
            instrument->positionStream = streamCount_;
        }
    } else if (const auto* tape = std::get_if<LinkTape>(&event)) {
        applyTape(*tape, now);
    } else if (auto* account = std::get_if<LinkAccount>(&event)) {
        applyAccount(*account);
    } else if (const auto* dropped = std::get_if<LinkDropped>(&event)) {
        log_.LogMessage("link: the script's queue was full: " + std::to_string(dropped->count) + " " + dropped->kind +
                            " records lost",
                        1);
    } else if (tradingEvents_.size() < tradingEventCapacity) {
        tradingEvents_.push_back(std::move(event));
    } else {
        ++droppedTradingEvents_;
    }
}

void ScriptLink::applyAccount(LinkAccount& account) {
    // The list comes again whole when a row changes: a known account takes its new classes.
    for (TradeAccount& known : accounts_)
        if (known.account == account.account) {
            known.classCodes = std::move(account.classCodes);
            return;
        }
    if (accounts_.size() < maxAccounts) accounts_.push_back({std::move(account.account), std::move(account.classCodes)});
}

void ScriptLink::applySecurity(const LinkSecurity& sec) {
    ScriptInstrument* instrument = find(sec.classCode, sec.ticker);
    if (!instrument) return;
    const double scaled = sec.priceStep * tenPower(sec.scale);
    const double step = std::round(scaled);
    if (step < 1 || step > std::numeric_limits<std::uint32_t>::max() || std::fabs(scaled - step) > 1e-6 * step) {
        drop(LinkFault::BadNumber);
        return;
    }
    TSecShareRecord& security = instrument->security;
    security.Ticker = sec.ticker;
    security.ClassCode = sec.classCode;
    security.Decimals = sec.scale;
    security.IntPriceStep = static_cast<std::uint32_t>(step);
    instrument->shortName = sec.shortName;
    instrument->lotSize = sec.lotSize;
    instrument->stepPrice = sec.stepPrice;
    instrument->securityKnown = true;
    // A book that came before its security is taken now, or not at all.
    if (instrument->book && !takeBook(*instrument, *instrument->book)) {
        // Rows priced for the old decimals would show wrong prices under the new ones.
        instrument->book.reset();
        instrument->table.Clear();
        instrument->bookKnown = false;
        ++instrument->bookVersion;
    }
}

void ScriptLink::applyBook(LinkBook& book, LinkTime now) {
    ScriptInstrument* instrument = find(book.classCode, book.ticker);
    if (!instrument) return;
    // Kept whole or not at all: the rows and the book the position is priced from stay one.
    if (instrument->securityKnown && !takeBook(*instrument, book)) {
        noteRejected(book.classCode, book.ticker, now);
        return;
    }
    instrument->lastBookAt = now;
    if (instrument->tapeQuietSince == LinkTime{}) instrument->tapeQuietSince = now;
    instrument->book = std::move(book);
}

void ScriptLink::applyTape(const LinkTape& tape, LinkTime now) {
    ScriptInstrument* instrument = find(tape.classCode, tape.ticker);
    // Priced in ticks only once the security's decimals are known.
    if (!instrument || !instrument->securityKnown) return;
    const std::optional<std::uint32_t> price = intPriceOf(tape.price, instrument->security.Decimals);
    if (!price) return drop(LinkFault::BadNumber);
    instrument->volume.add(tape.tradeNumber, *price, tape.quantity, TapeSideOf(tape.flags));
    instrument->tapeQuietSince = now;
    instrument->tapeQuietTold = false;
}

void ScriptLink::noteTapeQuiet(LinkTime now) {
    for (const auto& instrument : instruments_) {
        if (instrument->tapeQuietTold || !instrument->securityKnown) continue;
        // "During trading": its book moved within the last few seconds and the terminal is connected.
        const bool trading = terminalConnected_ && now - instrument->lastBookAt < std::chrono::seconds(5);
        if (instrument->tapeQuietSince == LinkTime{} || !trading) {
            if (!trading) instrument->tapeQuietSince = now;
            continue;
        }
        if (now - instrument->tapeQuietSince < tapeQuietLimit) continue;
        instrument->tapeQuietTold = true;
        log_.LogMessage("link: no trades of " + instrument->name.classCode + ":" + instrument->name.ticker +
                            " for 60 s while its book moves: the terminal may send trades only while its table "
                            "of all trades is open",
                        1);
    }
}

void ScriptLink::noteRejected(const std::string& classCode, const std::string& ticker, LinkTime now) {
    if (classCode.empty()) return;
    ScriptInstrument* instrument = find(classCode, ticker);
    if (!instrument) return;
    if (!instrument->rejectedSince) instrument->rejectedSince = now;
    instrument->lastRejected = now;
}

void ScriptLink::connectionChanged(bool connected) {
    terminalConnected_ = connected;
    log_.LogMessage(connected ? "link: the terminal is connected to its server"
                              : "link: the terminal is not connected to its server",
                    1);
    // Books sent while it was away, or before, show nothing of the market now: the first book
    // after it is back does.
    for (const auto& instrument : instruments_) instrument->bookKnown = false;
}

bool ScriptLink::takeBook(ScriptInstrument& instrument, const LinkBook& book) {
    if (!FillQuoteTable(book, instrument.security, instrument.table)) {
        drop(LinkFault::BadNumber);
        return false;
    }
    instrument.bookKnown = true;
    instrument.rejectedSince.reset();
    ++instrument.bookVersion;
    instrument.bookStream = streamCount_;
    return true;
}

bool ScriptLink::heard(LinkTime now) const {
    return stream_ && hello_ && !bye_ && now - lastLine_ <= quietLimit;
}

bool ScriptLink::live(LinkTime now) const {
    if (!stream_ || !hello_ || bye_) return false;
    return wanted_.empty() || now - lastLine_ <= quietLimit;
}

std::string ScriptLink::lostReason(LinkTime now) const {
    if (!stream_) return "no stream";
    if (!stream_->blockedReason().empty()) return stream_->blockedReason();
    if (!hello_) return "no script on the stream";
    if (bye_) return "the script stopped";
    if (!live(now)) return "the script silent for 2 s";
    return "live";
}

std::vector<LinkEvent> ScriptLink::takeTradingEvents() {
    std::vector<LinkEvent> taken;
    taken.swap(tradingEvents_);
    if (droppedTradingEvents_ > 0)
        log_.LogMessage("link: " + std::to_string(droppedTradingEvents_) + " orders, trades or replies lost to a full queue",
                        1);
    droppedTradingEvents_ = 0;
    return taken;
}

}  // namespace velmora
