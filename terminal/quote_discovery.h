#pragma once
#include <string>

#include "platform/process_access.h"
#include "terminal/quote_table.h"

namespace velmora {

class InstrumentChooser;
class Log;
class TSecShareList;
struct TSecShareRecord;

// acRefreshQuoteTables: one discovery pass over the books at `dombase`. Refills `tables`, offers in
// `chooser` the instruments `securities` knows, and re-points `table` / `security` at the book of
// `defaultContract` (both null when there is none).
void RefreshQuoteTables(TQuoteTables& tables, TQuoteTable*& table, const TSecShareRecord*& security,
                        ProcessHandle* process, TerminalAddress dombase, const TSecShareList* securities,
                        const std::string& defaultContract, InstrumentChooser& chooser, Log& log);

// The table at `position` of `tables` and its security; false, both untouched, when there is no
// such table or `securities` does not know it.
bool TableAt(TQuoteTables& tables, int position, const TSecShareList* securities, TQuoteTable*& table,
             const TSecShareRecord*& security);

}  // namespace velmora
