#include "securities.h"

#include <cstring>
#include <stdexcept>

namespace standin {

std::string Security::code() const {
    return ticker.substr(0, ticker.find('\0'));
}

namespace {

using namespace std::string_literals;

Security futures(std::int32_t id, std::string ticker, std::string shortName, std::string fullName,
                 std::int32_t step, std::int32_t decimals, std::string base, std::uint32_t price) {
    Security s;
    s.id = id;
    s.ticker = std::move(ticker);
    s.ticker2 = s.code();
    s.ticker3 = "F" + std::to_string(id);
    s.intPriceStep = step;
    s.shortName = std::move(shortName);
    s.fullName = toWindows1251(fullName);
    s.decimals = decimals;
    s.lotSize = 1;
    s.extraInt = 0;
    s.classCode = "SPBFUT";
    s.smn = "FORTS";
    s.z2 = "";
    s.baseContract = std::move(base);
    s.startPrice = price;
    return s;
}

Security share(std::int32_t id, std::string ticker, std::string isin, std::string fullName,
               std::int32_t step, std::int32_t decimals, std::int32_t lot, std::string classCode,
               std::uint32_t price) {
    Security s;
    s.id = id;
    s.ticker = std::move(ticker);
    s.ticker2 = s.ticker;
    s.ticker3 = "";
    s.intPriceStep = step;
    s.shortName = s.ticker;
    s.fullName = toWindows1251(fullName);
    s.decimals = decimals;
    s.lotSize = lot;
    s.extraInt = 1;
    s.isin = std::move(isin);
    s.isinKind = classCode == "TQOB" ? "BONDS" : "SHARES";
    s.classCode = std::move(classCode);
    s.smn = "MICEX";
    s.z2 = "EQ";
    s.startPrice = price;
    return s;
}

std::vector<Security> buildSecurities() {
    std::vector<Security> list;
    list.push_back(futures(1001, "SiZ6", "Si-12.26", "Фьючерсный контракт Si-12.26", 1, 0, "Si", 92350));
    list.back().zeroBeforeClass = true;
    list.back().stepPrice = 1;
    // A name whose bytes go on after a zero byte, as stale buffers in the real file do.
    list.push_back(futures(1002, "RIZ6", "RTS-12.26\0old"s, "Фьючерс на индекс РТС", 10, 0, "RTS", 110250));
    list.back().stepPrice = 13.2517;  // 0.2 USD at the exchange's dollar rate
    list.push_back(futures(1003, "MXZ6", "MIX-12.26", "Фьючерс на индекс МосБиржи", 25, 0, "MIX", 0));
    list.back().zeroBeforeClass = true;
    list.back().stepPrice = 2.5;
    list.push_back(futures(1004, "BRF7", "BR-1.27", "Нефть Brent", 1, 2, "BR", 7512));
    list.back().stepPrice = 6.62585;
    list.push_back(futures(1005, "GZZ6\0XX"s, "GAZR-12.26", "Газпром ао", 1, 0, "GAZR", 13450));
    list.back().stepPrice = 1;
    list.push_back(futures(1006, "EDZ6", "ED-12.26", "Евро - доллар США", 1, 4, "ED", 10850));
    list.back().stepPrice = 6.62585;
    list.push_back(futures(1007, "NGZ6", "NG-12.26", "Природный газ", 1, 3, "NG", 3456));
    list.back().zeroBeforeClass = true;
    list.back().stepPrice = 6.62585;
    list.push_back(futures(1008, "RI110000BL6", "RTS-12.26M161226CA110000", "Опцион на RIZ6", 10, 0, "RIZ6", 3500));
    list.back().classCode = "SPBOPT";
    list.push_back(futures(1009, "Si92000BL6", "Si-12.26M161226CA92000", "Опцион на SiZ6", 1, 0, "SiZ6", 1240));
    list.back().classCode = "SPBOPT";
    list.push_back(futures(1010, "RTSI", "RTSI", "Индекс РТС", 1, 2, "", 0));
    list.back().classCode = "INDX";
    list.back().smn = "";
    list.push_back(share(2001, "SBER", "RU0009029540", "Сбербанк России ПАО ао", 1, 2, 10, "TQBR", 30125));
    list.push_back(share(2002, "GAZP", "RU0007661625", "Газпром ПАО ао", 1, 2, 10, "TQBR", 0));
    list.push_back(share(2003, "LKOH", "RU0009024277", "ЛУКОЙЛ ПАО ао", 5, 1, 1, "TQBR", 71235));
    list.push_back(share(2004, "SU26238RMFS4", "RU000A1038V6", "ОФЗ 26238", 1, 3, 1, "TQOB", 0));
    list.push_back(share(2005, "MOEX", "RU000A0JR4A1", "Московская Биржа ПАО ао", 1, 2, 10, "TQBR", 0));
    return list;
}

void putWord(std::string& out, std::int32_t value) {
    auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) out += static_cast<char>((bits >> (8 * i)) & 0xFF);
}

void putString(std::string& out, const std::string& text) {
    putWord(out, static_cast<std::int32_t>(text.size()));
    out += text;
}

// Filler for blocks the reader keeps but does not interpret; varies per record.
void putBlock(std::string& out, std::size_t size, std::int32_t seed) {
    for (std::size_t i = 0; i < size; ++i) out += static_cast<char>((seed * 7 + i * 13) & 0xFF);
}

}  // namespace

const std::vector<Security>& standardSecurities() {
    static const std::vector<Security> list = buildSecurities();
    return list;
}

std::string secFileBytes(const std::vector<Security>& securities, int version) {
    std::string out;
    putWord(out, 0x43455356);  // file tag; readers skip the whole header
    putWord(out, version);
    putWord(out, static_cast<std::int32_t>(securities.size()));
    out.resize(32, '\0');
    for (const auto& s : securities) {
        putWord(out, s.id);
        putString(out, s.ticker);
        putString(out, s.ticker2);
        putString(out, s.ticker3);
        putWord(out, s.intPriceStep);
        putString(out, s.shortName);
        putString(out, s.fullName);
        putWord(out, s.decimals);
        putWord(out, s.lotSize);
        putWord(out, s.extraInt);
        if (!s.isin.empty()) {
            putString(out, s.isin);
            if (version == 2) putString(out, s.isinKind);
            putString(out, s.classCode);
            putBlock(out, 32, s.id);
            putString(out, s.smn);
            putString(out, s.z2);
            putBlock(out, 8, s.id + 1);
        } else {
            putWord(out, 0);  // empty ISIN
            if (s.zeroBeforeClass) putWord(out, 0);
            putString(out, s.classCode);
            putBlock(out, 32, s.id);
            putString(out, s.smn);
            putString(out, s.z2);
            putBlock(out, 4, s.id + 1);
            if (s.baseContract.empty())
                putWord(out, 0);
            else
                putString(out, s.baseContract);
        }
    }
    return out;
}

}  // namespace standin
