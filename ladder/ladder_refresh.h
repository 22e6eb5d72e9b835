#pragma once

namespace velmora {

class LadderGrid;
class Log;
class ProcessHandle;
class TQuoteTable;
struct TSecShareRecord;

// acRefreshDOM: re-reads `table` from `process` and maps it onto `grid` (`rowCount` rows),
// anchored on the spread and priced for `security`. Does nothing while either is null. The tick
// runs ShowStopQuantities right after it. Answers whether the book was read and accepted.
bool RefreshDOM(LadderGrid& grid, int rowCount, TQuoteTable* table, const TSecShareRecord* security,
                ProcessHandle* process, Log& log);
// Maps rows already read onto `grid` the same way.
void ShowQuoteTable(LadderGrid& grid, int rowCount, const TQuoteTable& table, const TSecShareRecord& security,
                    Log& log);

}  // namespace velmora
