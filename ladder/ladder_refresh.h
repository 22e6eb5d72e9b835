#pragma once
#include "ladder/ladder_extras.h"

namespace velmora {

class LadderGrid;
class PriceAxis;
class Log;
class ProcessHandle;
class TQuoteTable;
struct TSecShareRecord;

// acRefreshDOM: re-reads `table` from `process` and maps it onto `grid` (`rowCount` rows),
// anchored on the spread and priced for `security`. Does nothing while either is null. The tick
// runs ShowStopQuantities right after it. Answers whether the book was read and accepted.
bool RefreshDOM(LadderGrid& grid, int rowCount, TQuoteTable* table, const TSecShareRecord* security,
                ProcessHandle* process, Log& log);
// Maps rows already read onto `grid` the same way, with `extras` on the rows of their prices.
void ShowQuoteTable(LadderGrid& grid, int rowCount, const TQuoteTable& table, const TSecShareRecord& security,
                    Log& log, const LadderExtras& extras = LadderExtras{});
// The ladder of prices: each row the price `axis` gives it (rowCount - 1 rows), with the book's
// quantities at that price, or the price alone. The cost follows the rows, not the book's size.
void ShowQuoteTableOnAxis(LadderGrid& grid, int rowCount, const TQuoteTable& table, const TSecShareRecord& security,
                          const PriceAxis& axis, Log& log, const LadderExtras& extras = LadderExtras{});

}  // namespace velmora
