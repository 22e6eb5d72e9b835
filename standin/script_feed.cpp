#include "script_feed.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "transaction.h"

namespace standin {

namespace {

const char* const account = "DEMO1";

bool isFutures(const Security& security) {
    return security.classCode == "SPBFUT" || security.classCode == "SPBOPT";
}

bool isStock(const Security& security) {
    return !security.isin.empty();
}

// The shortest text that reads back as the same number, with "." whatever the locale.
std::string numberText(double value) {
    char text[64];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// The local time as the host's datetime tables give it.
HostRecord dateTimeNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count() % 1000000;
    const std::tm local = *std::localtime(&seconds);
    return {{"year", local.tm_year + 1900.0}, {"month", local.tm_mon + 1.0}, {"day", double(local.tm_mday)},
            {"hour", double(local.tm_hour)},  {"min", double(local.tm_min)},   {"sec", double(local.tm_sec)},
            {"ms", double(micros / 1000)},    {"mcs", double(micros)},         {"week_day", double(local.tm_wday)}};
}

}  // namespace

ScriptFeed::ScriptFeed(std::string workingFolder, const std::vector<Security>& securities,
                       const std::vector<BookMemory::Header>& chain, const std::vector<OrderBook>& books,
                       const OrderDesk& desk, std::vector<TradeAccount> accounts, bool report, double stepPrice)
    : workingFolder_(std::move(workingFolder)), securities_(securities), chain_(chain), books_(books), desk_(desk),
      accounts_(std::move(accounts)), report_(report), host_(*this) {
    // Orders that rest from before the start were told already: no trade comes from their state.
    for (const DeskOrder& order : desk_.orders()) toldBalances_[order.number] = order.balance;
    for (std::size_t i = 0; i < securities_.size(); ++i)
        if (securities_[i].classCode == "SPBFUT" && securities_[i].stepPrice > 0)
            stepPrices_[i] = stepPrice > 0 ? stepPrice : securities_[i].stepPrice;
}

void ScriptFeed::tape(std::size_t securityIndex, const Fill& fill) {
    const Security& security = securities_[securityIndex];
    const double tradePrice = fill.price / std::pow(10.0, security.decimals);
    const double flags = fill.sell ? 1 : 2;
    lastPrices_[securityIndex] = fill.price;
    told("TAPE " + security.classCode + " " + security.code() + " " + priceText(fill.price, security.decimals) + " " +
         std::to_string(fill.quantity) + " " + std::to_string(int(flags)));
    host_.onAllTrade({{"trade_num", double(nextTapeNumber_++)}, {"flags", flags}, {"price", tradePrice},
                      {"qty", double(fill.quantity)}, {"value", tradePrice * fill.quantity * security.lotSize},
                      {"class_code", security.classCode}, {"sec_code", security.code()}},
                     dateTimeNow());
}

void ScriptFeed::walkStepPrices(std::mt19937& random) {
    for (auto& [index, value] : stepPrices_) {
        const double change = (random() % 2 ? 1.0 : -1.0) * double(1 + random() % 5) / 1000;
        const double next = std::round(value * (1 + change) * 1e6) / 1e6;
        if (next > 0) value = next;
    }
}

std::optional<std::string> ScriptFeed::parameter(const std::string& classCode, const std::string& secCode,
                                                 const std::string& name) const {
    const std::size_t index = securityIndex(classCode, secCode);
    if (index == SIZE_MAX) return std::nullopt;
    const Security& s = securities_[index];
    if (name == "STEPPRICE") {
        auto found = stepPrices_.find(index);
        if (found != stepPrices_.end()) return numberText(found->second);
    } else if (name == "LAST") {
        auto found = lastPrices_.find(index);
        if (found != lastPrices_.end()) return priceText(found->second, s.decimals);
    } else if (name == "SEC_PRICE_STEP") {
        return priceText(static_cast<std::uint32_t>(s.intPriceStep), s.decimals);
    } else if (name == "LOTSIZE") {
        return std::to_string(s.lotSize);
    }
    return std::nullopt;
}

std::size_t ScriptFeed::securityIndex(const std::string& classCode, const std::string& secCode) const {
    for (std::size_t i = 0; i < securities_.size(); ++i)
        if (securities_[i].classCode == classCode && securities_[i].code() == secCode) return i;
    return SIZE_MAX;
}

double ScriptFeed::price(const DeskOrder& order) const {
    return order.intPrice / std::pow(10.0, securities_[order.securityIndex].decimals);
}

void ScriptFeed::bookChanged(std::size_t header) {
    const Security& security = securities_[static_cast<std::size_t>(chain_[header].securityIndex)];
    // Only an ordered book reaches a script.
    if (host_.subscribed(security.classCode, security.code())) host_.onQuote(security.classCode, security.code());
}

void ScriptFeed::setConnected(bool connected) {
    if (connected == connected_) return;
    connected_ = connected;
    if (connected) host_.onConnected();
    else host_.onDisconnected();
}

void ScriptFeed::transaction(const std::string& text) {
    // The moment it reached the terminal, for a caller timing the way there; its pairs sorted, as
    // the host's table gives them in no fixed order.
    if (report_) {
        std::vector<std::string> pairs;
        for (std::size_t start = 0, end; (end = text.find(';', start)) != std::string::npos; start = end + 1)
            pairs.push_back(text.substr(start, end - start + 1));
        std::sort(pairs.begin(), pairs.end());
        std::string sorted;
        for (const std::string& pair : pairs) sorted += pair;
        told("sendTransaction " + sorted);
    }
    transactions_.push_back(text);
}

void ScriptFeed::told(const std::string& what) {
    if (!report_) return;
    std::printf("SCRIPT %s\n", what.c_str());
    std::fflush(stdout);
}

HostRecord ScriptFeed::orderRecord(const DeskOrder& order) const {
    const Security& security = securities_[order.securityIndex];
    double flags = 8;  // limit
    if (order.state == DeskOrder::Active) flags += 1;
    if (order.state == DeskOrder::Cancelled) flags += 2;
    if (order.sell) flags += 4;
    return {{"order_num", double(order.number)}, {"trans_id", double(order.transId)}, {"flags", flags},
            {"price", price(order)}, {"qty", double(order.quantity)}, {"balance", double(order.balance)},
            {"class_code", security.classCode}, {"sec_code", security.code()}, {"account", std::string(account)}};
}

void ScriptFeed::ordersChanged(const std::vector<DeskOrder>& changed) {
    for (const DeskOrder& order : changed) {
        auto told = toldBalances_.find(order.number);
        const std::uint32_t before = told == toldBalances_.end() ? order.quantity : told->second;
        toldBalances_[order.number] = order.balance;
        host_.onOrder(orderRecord(order));
        if (before > order.balance) addTrade(order, before - order.balance);
    }
}

void ScriptFeed::addTrade(const DeskOrder& order, std::uint32_t quantity) {
    const Security& security = securities_[order.securityIndex];
    const double tradePrice = price(order);
    Position& position = positions_[order.securityIndex];
    const double signedQuantity = order.sell ? -double(quantity) : double(quantity);
    (order.sell ? position.sold : position.bought) += quantity;
    if (position.net == 0 || (position.net > 0) == (signedQuantity > 0)) {
        const double total = std::fabs(position.net) + quantity;
        position.average = (position.average * std::fabs(position.net) + tradePrice * quantity) / total;
    } else if (std::fabs(signedQuantity) > std::fabs(position.net)) {
        position.average = tradePrice;  // turned over: the rest opens at this price
    }
    position.net += signedQuantity;
    if (position.net == 0) position.average = 0;
    position.lastPrice = tradePrice;

    host_.onTrade({{"trade_num", double(nextTradeNumber_++)}, {"order_num", double(order.number)},
                   {"trans_id", double(order.transId)}, {"flags", order.sell ? 4.0 : 0.0}, {"price", tradePrice},
                   {"qty", double(quantity)}, {"value", tradePrice * quantity * security.lotSize},
                   {"class_code", security.classCode}, {"sec_code", security.code()},
                   {"account", std::string(account)}});
}

void ScriptFeed::replied(const ScriptReply& reply) {
    HostRecord record{{"trans_id", double(reply.transId)}, {"status", double(reply.status)},
                      {"result_msg", reply.description}, {"account", std::string(account)}};
    if (reply.orderNumber != 0) record.push_back({"order_num", double(reply.orderNumber)});
    if (reply.securityIndex < securities_.size()) {
        record.push_back({"class_code", securities_[reply.securityIndex].classCode});
        record.push_back({"sec_code", securities_[reply.securityIndex].code()});
    }
    host_.onTransReply(record);
}

std::optional<Quotes> ScriptFeed::quotes(const std::string& classCode, const std::string& secCode) const {
    const std::size_t index = securityIndex(classCode, secCode);
    if (index == SIZE_MAX) return std::nullopt;
    Quotes quotes;
    for (std::size_t header = 0; header < chain_.size(); ++header) {
        if (!chain_[header].hasBook || static_cast<std::size_t>(chain_[header].securityIndex) != index) continue;
        for (const BookRow& row : books_[header].rows()) {
            QuoteEntry entry{priceText(row.price, securities_[index].decimals), std::to_string(row.quantity)};
            (row.sell ? quotes.offers : quotes.bids).push_back(std::move(entry));
        }
    }
    return quotes;
}

std::optional<HostRecord> ScriptFeed::securityInfo(const std::string& classCode, const std::string& secCode) const {
    const std::size_t index = securityIndex(classCode, secCode);
    if (index == SIZE_MAX) return std::nullopt;
    const Security& s = securities_[index];
    return HostRecord{{"code", s.code()},
                      {"name", s.fullName},
                      {"short_name", s.shortName.substr(0, s.shortName.find('\0'))},
                      {"class_code", s.classCode},
                      {"scale", double(s.decimals)},
                      {"min_price_step", s.intPriceStep / std::pow(10.0, s.decimals)},
                      {"lot_size", double(s.lotSize)},
                      {"isin_code", s.isin}};
}

std::vector<std::string> ScriptFeed::classSecurities(const std::string& classCode) const {
    std::vector<std::string> codes;
    for (const Security& s : securities_)
        if (s.classCode == classCode) codes.push_back(s.code());
    return codes;
}

std::vector<HostRecord> ScriptFeed::tableRows(const std::string& name) const {
    std::vector<HostRecord> rows;
    if (name == "orders") {
        for (const DeskOrder& order : desk_.orders()) rows.push_back(orderRecord(order));
        return rows;
    }
    if (name == "trade_accounts") {
        for (const TradeAccount& account : accounts_)
            rows.push_back({{"trdaccid", account.id}, {"class_codes", account.classCodes},
                            {"firmid", std::string("DEMOFIRM")}, {"description", std::string("stand-in")}});
        return rows;
    }
    const bool futures = name == "futures_client_holding";
    if (!futures && name != "depo_limits") return rows;
    for (const auto& [index, position] : positions_) {
        const Security& s = securities_[index];
        if (futures && isFutures(s)) {
            rows.push_back({{"firmid", std::string("SPBFUT000")}, {"trdaccid", std::string(account)},
                            {"sec_code", s.code()}, {"type", 0.0}, {"totalnet", position.net},
                            {"avrposnprice", position.average},
                            {"varmargin", (position.lastPrice - position.average) * position.net},
                            {"todaybuy", position.bought}, {"todaysell", position.sold}});
        } else if (!futures && isStock(s)) {
            rows.push_back({{"firmid", std::string("MC0000000000")}, {"trdaccid", std::string(account)},
                            {"sec_code", s.code()}, {"limit_kind", 0.0},
                            {"currentbal", position.net * s.lotSize}, {"wa_position_price", position.average}});
        }
    }
    return rows;
}

}  // namespace standin
