#include "transaction.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace standin {

namespace {

constexpr std::uint32_t maxQuantity = 1000000;

std::string trim(const std::string& text) {
    auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// A decimal number of digits only; empty when it is not one or does not fit `limit`.
std::optional<std::uint64_t> plainNumber(const std::string& text, std::uint64_t limit) {
    if (text.empty() || text.size() > 12) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > limit) return std::nullopt;
    return value;
}

// The price as an integer number of 10^-decimals units, or a refusal text.
std::optional<std::uint32_t> gridPrice(const std::string& text, const Security& security, std::string& refusal) {
    auto point = text.find('.');
    std::string whole = text.substr(0, point);
    std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    if (point != std::string::npos && fraction.empty()) {
        refusal = "PRICE '" + text + "' is not a number";
        return std::nullopt;
    }
    if (fraction.size() > static_cast<std::size_t>(security.decimals)) {
        refusal = "PRICE '" + text + "' has more than " + std::to_string(security.decimals) + " decimals";
        return std::nullopt;
    }
    fraction.resize(static_cast<std::size_t>(security.decimals), '0');
    auto value = plainNumber(whole + fraction, 0xFFFFFFFFu);
    if (!value || whole.empty()) {
        refusal = "PRICE '" + text + "' is not a number";
        return std::nullopt;
    }
    if (*value == 0) {
        refusal = "PRICE must be positive";
        return std::nullopt;
    }
    if (*value % static_cast<std::uint64_t>(security.intPriceStep) != 0) {
        refusal = "PRICE '" + text + "' is not a multiple of the price step";
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*value);
}

std::string priceText(std::uint32_t intPrice, int decimals) {
    std::string digits = std::to_string(intPrice);
    if (decimals <= 0) return digits;
    auto places = static_cast<std::size_t>(decimals);
    if (digits.size() <= places) digits.insert(0, places - digits.size() + 1, '0');
    digits.insert(digits.size() - places, ".");
    return digits;
}

}  // namespace

CheckedTransaction checkTransaction(const std::string& text, const std::vector<Security>& securities) {
    CheckedTransaction checked;
    std::map<std::string, std::string> pairs;
    std::size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        std::string piece = trim(text.substr(start, end - start));
        start = end + 1;
        if (piece.empty()) continue;
        auto equals = piece.find('=');
        if (equals == std::string::npos) {
            checked.refusal = "malformed pair '" + piece + "'";
            continue;
        }
        std::string key = upper(trim(piece.substr(0, equals)));
        if (!pairs.emplace(key, trim(piece.substr(equals + 1))).second && checked.refusal.empty())
            checked.refusal = "duplicate key " + key;
    }
    auto value = [&](const char* key) -> const std::string* {
        auto found = pairs.find(key);
        return found == pairs.end() ? nullptr : &found->second;
    };
    auto refuse = [&](std::string reason) {
        if (checked.refusal.empty()) checked.refusal = std::move(reason);
        return checked;
    };

    const std::string* transId = value("TRANS_ID");
    if (transId) checked.transIdText = *transId;
    if (!checked.refusal.empty()) return checked;
    if (!transId) return refuse("TRANS_ID missing");
    auto id = plainNumber(*transId, 0x7FFFFFFF);
    if (!id || *id == 0) return refuse("TRANS_ID '" + *transId + "' is not a positive integer");

    const std::string* account = value("ACCOUNT");
    if (!account || account->empty()) return refuse("ACCOUNT missing");
    const std::string* classCode = value("CLASSCODE");
    const std::string* secCode = value("SECCODE");
    if (!classCode || !secCode) return refuse("CLASSCODE or SECCODE missing");
    auto security = std::find_if(securities.begin(), securities.end(), [&](const Security& s) {
        return s.classCode == *classCode && s.code() == *secCode;
    });
    if (security == securities.end()) return refuse("unknown security " + *classCode + " " + *secCode);

    Transaction t;
    t.transId = static_cast<std::int64_t>(*id);
    t.securityIndex = static_cast<std::size_t>(security - securities.begin());

    const std::string* action = value("ACTION");
    // A terminal rejects a transaction without an action; it is no kill-all.
    if (!action) return refuse("ACTION missing");
    if (*action == "KILL_ALL_ORDERS") {
        t.kind = Transaction::Kind::KillAll;
    } else if (*action == "KILL_ALL_FUTURES_ORDERS") {
        const std::string* base = value("BASE_CONTRACT");
        if (!base || base->empty()) return refuse("BASE_CONTRACT missing");
        t.kind = Transaction::Kind::KillAll;
    } else if (*action == "NEW_ORDER") {
        const std::string* type = value("TYPE");
        if (!type || *type != "L") return refuse("TYPE must be L");
        const std::string* quantity = value("QUANTITY");
        auto lots = quantity ? plainNumber(*quantity, maxQuantity) : std::nullopt;
        if (!lots || *lots == 0)
            return refuse("QUANTITY must be a positive integer up to " + std::to_string(maxQuantity));
        const std::string* price = value("PRICE");
        if (!price) return refuse("PRICE missing");
        std::string reason;
        auto intPrice = gridPrice(*price, *security, reason);
        if (!intPrice) return refuse(reason);
        const std::string* operation = value("OPERATION");
        if (!operation || (*operation != "B" && *operation != "S")) return refuse("OPERATION must be B or S");
        t.kind = Transaction::Kind::NewOrder;
        t.quantity = static_cast<std::uint32_t>(*lots);
        t.intPrice = *intPrice;
        t.sell = *operation == "S";
    } else {
        return refuse("unsupported ACTION " + *action);
    }
    checked.transaction = t;
    return checked;
}

std::string acceptedReply(const Transaction& t, const Security& security, std::uint64_t orderNumber,
                          std::uint32_t traded, std::uint32_t resting) {
    return "TRANS_ID=" + std::to_string(t.transId) + "; STATUS=3; ORDER_NUM=" + std::to_string(orderNumber) +
           "; CLASSCODE=" + security.classCode + "; SECCODE=" + security.code() +
           "; OPERATION=" + (t.sell ? "S" : "B") + "; PRICE=" + priceText(t.intPrice, security.decimals) +
           "; QUANTITY=" + std::to_string(t.quantity) + "; TRADED=" + std::to_string(traded) +
           "; BALANCE=" + std::to_string(resting) + "; RESULT_MSG=order accepted; ";
}

std::string killReply(const Transaction& t, const Security& security, std::uint32_t removed) {
    return "TRANS_ID=" + std::to_string(t.transId) + "; STATUS=3; CLASSCODE=" + security.classCode +
           "; SECCODE=" + security.code() + "; KILLED_QUANTITY=" + std::to_string(removed) +
           "; RESULT_MSG=orders removed; ";
}

std::string refusedReply(const CheckedTransaction& checked) {
    // The reason may quote the text; a line break in it would split the reply line.
    std::string reason = checked.refusal;
    std::replace_if(reason.begin(), reason.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    std::string id = checked.transIdText;
    std::replace_if(id.begin(), id.end(), [](char c) { return c == '\r' || c == '\n' || c == ';'; }, ' ');
    return "TRANS_ID=" + id + "; STATUS=4; RESULT_MSG=" + reason + "; ";
}

}  // namespace standin
