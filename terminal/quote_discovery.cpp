#include "terminal/quote_discovery.h"

#include <algorithm>
#include <exception>

#include "core/main_view.h"
#include "core/program.h"
#include "orders/stop_orders.h"
#include "secs/security_list.h"
#include "settings/text_encoding.h"

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
const TSecShareRecord* securityOf(const Program& program, const TQuoteTable& table) {
    if (!program.SecurityList || !program.SecurityList->contains(table.SecIndex)) return nullptr;
    return &program.SecurityList->at(table.SecIndex);
}

bool sameBook(const TQuoteTable& a, const TQuoteTable& b) {
    return a.RecordAddress == b.RecordAddress && a.TableAddress == b.TableAddress && a.SecIndex == b.SecIndex;
}

}  // namespace

void RefreshQuoteTables(Program& program, MainView& view) {
    if (!program.quoteTables) program.quoteTables = std::make_unique<TQuoteTables>();
    // The previous tables live until the references have moved on, so the chosen
    // book's rows can carry over when the pass finds it unchanged.
    TQuoteTables previous = std::move(*program.quoteTables);
    program.quoteTables->clear();
    TQuoteTables& tables = *program.quoteTables;
    try {
        GetQuoteTables(program.TerminalProcess.get(), static_cast<TerminalAddress>(program.settings.DOMBASE), tables,
                       program.log);
    } catch (const std::exception& error) {
        program.log.LogMessage(std::string("GetQuoteTables exception: ") + error.what(), 1);
    }

    std::vector<InstrumentItem> items;
    items.reserve(tables.size());
    for (std::size_t i = 0; i < tables.size(); ++i) {
        const TSecShareRecord* security = securityOf(program, *tables[i]);
        if (security == nullptr) {
            if (program.log.enabled(5))
                program.log.LogMessage("QuoteTable SecIndex:" + std::to_string(tables[i]->SecIndex) +
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
        if (compareIgnoringCase(items[i].ticker, program.settings.DefaultContract) == 0) {
            selected = static_cast<int>(i);
            break;
        }
    }
    // Refilling an unchanged list would close the drop-down under the user's hand.
    if (items != view.instrumentItems() || selected != view.selectedInstrumentIndex())
        view.setInstrumentItems(items, selected);

    TQuoteTable* chosen = nullptr;
    const TSecShareRecord* security = nullptr;
    if (selected >= 0) {
        chosen = tables[static_cast<std::size_t>(items[static_cast<std::size_t>(selected)].tablePosition)].get();
        security = securityOf(program, *chosen);
    }
    // The same book at the same place: keep its rows so the ladder and hotkeys do
    // not go blank until the next read.
    if (chosen != nullptr && program.CurrentQuoteTable != nullptr && sameBook(*chosen, *program.CurrentQuoteTable))
        chosen->rows = std::move(program.CurrentQuoteTable->rows);
    program.CurrentQuoteTable = chosen;
    program.CurrentSecurity = security;
}

void SecNameChange(Program& program, MainView& view) {
    if (program.log.enabled(5)) program.log.LogMessage("Changing sec...", 5);
    std::vector<InstrumentItem> items = view.instrumentItems();
    int selected = view.selectedInstrumentIndex();
    program.clearCurrent();
    if (selected >= 0 && selected < static_cast<int>(items.size())) {
        const InstrumentItem& item = items[static_cast<std::size_t>(selected)];
        program.settings.DefaultContract = item.ticker;
        int position = item.tablePosition;
        if (program.quoteTables && position >= 0 && position < static_cast<int>(program.quoteTables->size())) {
            TQuoteTable* table = (*program.quoteTables)[static_cast<std::size_t>(position)].get();
            if (const TSecShareRecord* security = securityOf(program, *table)) {
                program.CurrentQuoteTable = table;
                program.CurrentSecurity = security;
            }
        }
    }
    if (program.instrumentChosen() && program.log.enabled(5)) {
        program.log.LogMessage("QuoteTable:" + program.CurrentQuoteTable->Description(), 5);
        program.log.LogMessage("SecRec:" + SecShareDescription(*program.CurrentSecurity), 5);
    }
    view.setPriceText("");
    if (program.StopOrders) program.StopOrders->Clear();
}

}  // namespace velmora
