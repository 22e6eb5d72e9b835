#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "windows1251.h"

namespace standin {

// One instrument as the terminal's securities file stores it. Strings are the
// exact bytes written (Windows-1251, possibly with a zero byte inside).
struct Security {
    std::int32_t id = 0;
    std::string ticker;  // may hold a zero byte: readers keep only the part before it
    std::string ticker2;
    std::string ticker3;
    std::int32_t intPriceStep = 1;
    std::string shortName;
    std::string fullName;
    std::int32_t decimals = 0;
    std::int32_t lotSize = 1;
    std::int32_t extraInt = 0;
    std::string isin;  // non-empty: long tail
    std::string isinKind;  // the extra string of the version-2 long tail
    std::string classCode;
    std::string smn;
    std::string z2;
    bool zeroBeforeClass = false;  // short tail: a zero word precedes the class code
    std::string baseContract;      // short tail: empty means "no base contract"
    // Where the simulated market starts; 0 for instruments without an order book.
    std::uint32_t startPrice = 0;
    // The money of one price step in roubles, which the futures market quotes; 0 elsewhere.
    double stepPrice = 0;

    // The code a transaction names it by: the ticker up to its first zero byte.
    std::string code() const;
};

// The fixed list every stand-in serves; position in the list = security index.
const std::vector<Security>& standardSecurities();

// The whole file content in layout version 1 or 2.
std::string secFileBytes(const std::vector<Security>& securities, int version);


}  // namespace standin
