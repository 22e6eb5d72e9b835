#include "terminal/script_book_source.h"

#include <algorithm>

#include "settings/log.h"
#include "settings/settings.h"
#include "terminal/link_request.h"
#include "terminal/position_text.h"
#include "terminal/quote_discovery.h"
#include "terminal/terminal_watch.h"

namespace velmora {

namespace {

// "Terminal" here means the script's link; a cause of no book is the whole caption.
const WatchTexts scriptWatchTexts{"Нет связи со скриптом velmora.lua", "Скрипт velmora.lua не присылает стакан",
                                  "Скрипт velmora.lua на связи, загрузка стакана...", "",
                                  [](const std::string& cause) {
                                      return cause.empty() ? std::string("the script sends none") : cause;
                                  }};

std::string nameText(const LinkInstrumentName& name) { return name.classCode + ":" + name.ticker; }

// DefaultContract names an instrument by its ticker, or as CLASS:TICKER, in any letter case as
// the chooser of books read from memory takes it.
bool namedBy(const std::string& defaultContract, const LinkInstrumentName& name) {
    return !defaultContract.empty() && (compareIgnoringCase(defaultContract, name.ticker) == 0 ||
                                        compareIgnoringCase(defaultContract, nameText(name)) == 0);
}

}  // namespace

ScriptBookSource::ScriptBookSource(const Settings& settings, Log& log, TerminalWatch& watch,
                                   std::function<LinkTime()> now, ScriptLink& link)
    : settings_(settings), log_(log), watch_(watch), now_(std::move(now)), link_(link) {}

ScriptBookSource::~ScriptBookSource() = default;

BookSourceLoad ScriptBookSource::load(WatchView& view, InstrumentChooser& chooser, const std::function<void()>&) {
    watch_.texts = &scriptWatchTexts;
    loaded_ = true;
    std::vector<std::string> rejected;
    std::vector<LinkInstrumentName> wanted = ParseInstrumentList(settings_.Instruments, rejected);
    if (settings_.DefaultContract.find(':') != std::string::npos) {
        std::vector<LinkInstrumentName> named = ParseInstrumentList(settings_.DefaultContract, rejected);
        for (const LinkInstrumentName& name : named)
            if (std::none_of(wanted.begin(), wanted.end(),
                             [&](const LinkInstrumentName& listed) { return namedBy(nameText(name), listed); }))
                wanted.push_back(name);
    }
    for (const std::string& item : rejected)
        log_.LogMessage("[SCRIPT] Instruments: \"" + item + "\" is not CLASS:TICKER, or named twice; left out", 1);
    if (wanted.empty()) log_.LogMessage("[SCRIPT] Instruments names no instrument: no book to show", 1);
    // A stream that cannot be served is logged; the ladder says the link is missing, and
    // nothing priced from a book is sent.
    link_.want(wanted);
    watch_.lostCause = link_.blockedReason();
    watch_.linkLost(log_, watch_.lostCause.empty() ? "velmora.lua not heard yet" : watch_.lostCause);
    watch_.applyLook(view, true);
    rediscover(chooser);
    return {};
}

void ScriptBookSource::close() {
    shown_ = nullptr;
    offered_.clear();
    // The script stops sending books nobody shows.
    if (loaded_) link_.want({});
    loaded_ = false;
}

void ScriptBookSource::rediscover(InstrumentChooser& chooser) {
    if (!loaded_) return;
    std::vector<InstrumentItem> items;
    const auto& instruments = link_.instruments();
    for (std::size_t i = 0; i < instruments.size(); ++i)
        items.push_back({instruments[i]->name.ticker, static_cast<int>(i)});
    std::stable_sort(items.begin(), items.end(),
                     [](const InstrumentItem& a, const InstrumentItem& b) { return a.ticker < b.ticker; });
    int selected = -1;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const ScriptInstrument& instrument = *instruments[static_cast<std::size_t>(items[i].tablePosition)];
        if (shown_ ? &instrument == shown_ : namedBy(settings_.DefaultContract, instrument.name)) {
            selected = static_cast<int>(i);
            break;
        }
    }
    // Only a change reaches the window: the chooser must not be refilled under the user's hand.
    if (items != offered_ || chooser.selectedInstrumentIndex() != selected) {
        offered_ = items;
        chooser.setInstrumentItems(items, selected);
    }
    if (!shown_ && selected >= 0) choose(selected);
    noteNotReadCause();
}

void ScriptBookSource::noteNotReadCause() {
    std::string& cause = watch_.notReadCause;
    if (offered_.empty())
        cause = "[SCRIPT] Instruments не называет ни одного инструмента: показывать нечего";
    else if (!shown_ && !settings_.DefaultContract.empty())
        cause = "Инструмента " + settings_.DefaultContract + " нет среди [SCRIPT] Instruments";
    else
        cause.clear();
}

void ScriptBookSource::choose(int index) {
    shown_ = nullptr;
    shownVersion_ = 0;
    if (!loaded_ || index < 0 || index >= static_cast<int>(offered_.size())) return;
    const int position = offered_[static_cast<std::size_t>(index)].tablePosition;
    shown_ = link_.instruments()[static_cast<std::size_t>(position)].get();
}

TQuoteTable* ScriptBookSource::shownBook() { return shownKnown() ? &shown_->table : nullptr; }

const TSecShareRecord* ScriptBookSource::shownSecurity() { return shownKnown() ? &shown_->security : nullptr; }

bool ScriptBookSource::readShownBook() {
    if (!shownKnown()) return false;
    // Logged as a book read from memory is, so one reader of the log follows both.
    if (shown_->bookVersion != shownVersion_ && log_.enabled(4)) log_.LogMessage(shown_->table.Description(), 4);
    shownVersion_ = shown_->bookVersion;
    shownVolumeVersion_ = shown_->volume.version();
    // A book left from a stream before this one proves nothing about the script now, nor one
    // whose later lines were rejected.
    return shown_->bookKnown && shown_->bookStream == link_.streamCount() &&
           !ScriptLink::booksRejected(*shown_);
}

void ScriptBookSource::updateWatch(WatchView& view, LinkTime now) {
    if (std::string cause = link_.blockedReason(); cause != watch_.lostCause) {
        watch_.lostCause = std::move(cause);
        if (watch_.lost) watch_.applyLook(view, false);
    }
    const bool live = link_.live(now);
    const bool connected = link_.terminalConnected();
    if (live && !connected) {
        if (!watch_.lost || !watch_.serverLost) {
            const bool wasLive = watch_.ladderLive();
            watch_.terminalDisconnected(log_);
            watch_.applyLook(view, wasLive);
        }
    } else if (live && watch_.lost) {
        log_.LogMessage(watch_.serverLost ? "the terminal is connected to its server again" : "link to velmora.lua live",
                        1);
        watch_.terminalFound();
        watch_.applyLook(view, false);
    } else if (!live && (!watch_.lost || watch_.serverLost)) {
        const bool wasLive = watch_.ladderLive();
        watch_.linkLost(log_, link_.lostReason(now));
        watch_.applyLook(view, wasLive);
    }
    if (shown_ && ScriptLink::booksRejected(*shown_)) watch_.bookLinesRejected(log_, view);
}

bool ScriptBookSource::watch(WatchView& view, InstrumentChooser&, bool) {
    if (!loaded_) return false;
    const LinkTime now = now_();
    link_.poll(now);
    updateWatch(view, now);
    if (!watch_.ladderLive()) watch_.showCaption(view);
    return !watch_.lost;
}

bool ScriptBookSource::poll(WatchView& view) {
    if (!loaded_) return false;
    const LinkTime now = now_();
    link_.poll(now);
    updateWatch(view, now);
    return shownKnown() &&
           (shown_->bookVersion != shownVersion_ || shown_->volume.version() != shownVolumeVersion_);
}

PositionLine ScriptBookSource::positionText(char decimalSeparator) const {
    return shown_ ? PositionText(*shown_, decimalSeparator) : PositionLine();
}

std::optional<PositionMark> ScriptBookSource::shownPositionMark() const {
    if (!shown_ || shown_->positionStream != link_.streamCount()) return std::nullopt;
    return PositionMarkOf(*shown_);
}

void ScriptBookSource::resetVolume() {
    for (const auto& instrument : link_.instruments()) instrument->volume.reset();
    log_.LogMessage("traded volumes reset", 1);
}

std::optional<std::int64_t> ScriptBookSource::shownPositionLots() const {
    // One told before the script came back may have changed since.
    if (!shown_ || shown_->positionStream != link_.streamCount()) return std::nullopt;
    return PositionLots(*shown_);
}

}  // namespace velmora
