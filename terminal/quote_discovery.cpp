#include "terminal/quote_discovery.h"

#include <algorithm>
#include <exception>

#include "platform/text_encoding.h"
#include "secs/security_list.h"
#include "settings/log.h"
#include "terminal/instrument_chooser.h"

namespace velmora {

namespace {

// Next character of UTF-8 text with Latin and Cyrillic letters folded to upper
// case, as the sorted list box compares its items.
char32_t nextFolded(const std::string& text, std::size_t& at) {
    const char32_t c = NextCodePoint(text, at);
    if (c >= U'a' && c <= U'z') return c - 32;
    if (c >= 0x430 && c <= 0x44F) return c - 32;  // а..я
    if (c == 0x451) return 0x401;                 // ё
    return c;
}

}  // namespace

int compareIgnoringCase(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        char32_t x = nextFolded(a, i);
        char32_t y = nextFolded(b, j);
        if (x != y) return x < y ? -1 : 1;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

// The security of a table, or null when its SecIndex names none.
const TSecShareRecord* securityOf(const TSecShareList* securities, const TQuoteTable& table) {
    if (!securities || !securities->contains(table.SecIndex)) return nullptr;
    return &securities->at(table.SecIndex);
}

bool sameBook(const TQuoteTable& a, const TQuoteTable& b) {
    return a.RecordAddress == b.RecordAddress && a.TableAddress == b.TableAddress && a.SecIndex == b.SecIndex;
}


void QuoteDiscovery::refresh(ProcessHandle* process, TerminalAddress dombase, const TSecShareList* securities,
                             const std::string& defaultContract, InstrumentChooser& chooser, Log& log) {
    // The previous tables live until the shown pair has moved on, so the shown book's rows
    // can carry over when the pass finds it unchanged.
    TQuoteTables previous = std::move(tables_);
    tables_.clear();
    try {
        GetQuoteTables(process, dombase, tables_, log);
    } catch (const std::exception& error) {
        log.LogMessage(std::string("GetQuoteTables exception: ") + error.what(), 1);
    }

    std::vector<InstrumentItem> items;
    items.reserve(tables_.size());
    for (std::size_t i = 0; i < tables_.size(); ++i) {
        const TSecShareRecord* security = securityOf(securities, *tables_[i]);
        if (security == nullptr) {
            if (log.enabled(5))
                log.LogMessage("QuoteTable SecIndex:" + std::to_string(tables_[i]->SecIndex) +
                                   " is not in the security list; not offered",
                               5);
            continue;
        }
        items.push_back({security->Ticker, static_cast<int>(i)});
    }
    std::stable_sort(items.begin(), items.end(), [](const InstrumentItem& a, const InstrumentItem& b) {
        return compareIgnoringCase(a.ticker, b.ticker) < 0;
    });

    int selected = -1;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (compareIgnoringCase(items[i].ticker, defaultContract) == 0) {
            selected = static_cast<int>(i);
            break;
        }
    }
    // Refilling an unchanged list would close the drop-down under the user's hand.
    if (items != offered_ || selected != offeredSelection_) {
        chooser.setInstrumentItems(items, selected);
        offered_ = std::move(items);
        offeredSelection_ = selected;
    }

    TQuoteTable* chosen = nullptr;
    const TSecShareRecord* security = nullptr;
    if (selected >= 0) {
        chosen = tables_[static_cast<std::size_t>(offered_[static_cast<std::size_t>(selected)].tablePosition)].get();
        security = securityOf(securities, *chosen);
    }
    // The same book at the same place: keep its rows so the ladder and hotkeys do
    // not go blank until the next read.
    if (chosen != nullptr && table_ != nullptr && sameBook(*chosen, *table_)) chosen->rows = std::move(table_->rows);
    table_ = chosen;
    security_ = security;
}

bool QuoteDiscovery::choose(int index, const TSecShareList* securities) {
    clearShown();
    if (index < 0 || index >= static_cast<int>(offered_.size())) return false;
    offeredSelection_ = index;
    const int position = offered_[static_cast<std::size_t>(index)].tablePosition;
    if (position < 0 || position >= static_cast<int>(tables_.size())) return false;
    TQuoteTable* candidate = tables_[static_cast<std::size_t>(position)].get();
    const TSecShareRecord* record = securityOf(securities, *candidate);
    if (record == nullptr) return false;
    table_ = candidate;
    security_ = record;
    return true;
}

void QuoteDiscovery::reset() {
    clearShown();
    // What was offered stays: it is what the chooser still shows, and the next pass compares with it.
    tables_.clear();
}

}  // namespace velmora
