#pragma once
#include <string>
#include <vector>

#include "platform/process_access.h"
#include "terminal/instrument_chooser.h"
#include "terminal/quote_table.h"

namespace velmora {

class Log;
class TSecShareList;
struct TSecShareRecord;

// The books found in the terminal, the instruments offered for them, and the one shown. The
// shown book and its security are set and cleared together, and point into what this owns
// (or, through show(), into what the caller keeps alive).
class QuoteDiscovery {
public:
    // acRefreshQuoteTables: one discovery pass over the books at `dombase`. Refills the tables,
    // offers in `chooser` the instruments `securities` knows, and shows the book of
    // `defaultContract` (none when there is no such book).
    void refresh(ProcessHandle* process, TerminalAddress dombase, const TSecShareList* securities,
                 const std::string& defaultContract, InstrumentChooser& chooser, Log& log);
    // The user picked item `index` of what was last offered: shows its book. False, nothing
    // shown, when there is no such item or its security is not known.
    bool choose(int index, const TSecShareList* securities);
    // Shows `table` of `security`, both kept alive by the caller (tools and tests).
    void show(TQuoteTable& table, const TSecShareRecord& security) {
        table_ = &table;
        security_ = &security;
    }
    void clearShown() {
        table_ = nullptr;
        security_ = nullptr;
    }
    // Forgets every book.
    void reset();

    TQuoteTable* table() const { return table_; }
    const TSecShareRecord* security() const { return security_; }
    bool chosen() const { return table_ != nullptr; }
    TQuoteTables& tables() { return tables_; }
    const TQuoteTables& tables() const { return tables_; }
    const std::vector<InstrumentItem>& offered() const { return offered_; }

private:
    TQuoteTables tables_;
    TQuoteTable* table_ = nullptr;
    const TSecShareRecord* security_ = nullptr;
    std::vector<InstrumentItem> offered_;
    int offeredSelection_ = -1;
};

// Orders tickers as the chooser lists them: Latin and Cyrillic letters compared without case.
int compareIgnoringCase(const std::string& a, const std::string& b);

}  // namespace velmora
