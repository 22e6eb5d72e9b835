#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "terminal/book_source.h"
#include "terminal/script_link.h"

namespace velmora {

class Log;
struct Settings;
struct TerminalWatch;

// The books velmora.lua sends over the link from the terminal's Lua host, for the instruments
// of `[SCRIPT] Instruments`. Live while the script is heard, the terminal is connected to its
// server, and the shown book's lines are taken.
class ScriptBookSource : public BookSource {
public:
    // `link` is opened by whoever owns it, and outlives this source.
    ScriptBookSource(const Settings& settings, Log& log, TerminalWatch& watch, std::function<LinkTime()> now,
                     ScriptLink& link);
    ~ScriptBookSource() override;

    bool attach(TerminalWaitView&, const bool& closing) override { return !closing; }
    BookSourceLoad load(WatchView& view, InstrumentChooser& chooser,
                        const std::function<void()>& letWindowPaint) override;
    void close() override;

    bool watch(WatchView& view, InstrumentChooser& chooser, bool rediscoveryTick) override;
    bool readShownBook() override;
    bool arrivesBetweenTicks() const override { return true; }
    bool poll(WatchView& view) override;
    int readableHandle() const override { return link_.readableHandle(); }

    void rediscover(InstrumentChooser& chooser) override;
    void choose(int index) override;
    const std::vector<InstrumentItem>& offered() const override { return offered_; }
    bool offersNothing() const override { return offered_.empty(); }

    TQuoteTable* shownBook() override;
    const TSecShareRecord* shownSecurity() override;
    bool ownQuantitiesInBooks() const override { return false; }
    void ownOrdersChanged() override { shownVersion_ = 0; }
    bool reportsPositions() const override { return true; }
    PositionLine positionText(char decimalSeparator) const override;
    std::optional<std::int64_t> shownPositionLots() const override;
    std::optional<PositionMark> shownPositionMark() const override;
    bool tellsTape() const override { return true; }
    const TradedVolume* shownVolume() const override { return shown_ ? &shown_->volume : nullptr; }
    void resetVolume() override;

    // The link itself, for what only it knows (its counts of dropped lines).
    const ScriptLink* link() const { return &link_; }

private:
    void updateWatch(WatchView& view, LinkTime now);
    // Why no book can show whatever the script sends, for the panel.
    void noteNotReadCause();
    // The shown instrument's book, once its `sec` line has come.
    bool shownKnown() const { return shown_ && shown_->securityKnown; }

    const Settings& settings_;
    Log& log_;
    TerminalWatch& watch_;
    std::function<LinkTime()> now_;
    ScriptLink& link_;
    bool loaded_ = false;
    std::vector<InstrumentItem> offered_;
    ScriptInstrument* shown_ = nullptr;
    std::uint64_t shownVersion_ = 0;  // the book version last read
    std::uint64_t shownVolumeVersion_ = 0;  // the tape's version last read
};

}  // namespace velmora
