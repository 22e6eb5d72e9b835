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

// Russian texts of the terminal, in its encoding; bytes quoted from the transaction stay as they came.
std::string ru(const char* utf8) {
    return toWindows1251(utf8);
}

// The price as an integer number of 10^-decimals units, or a refusal text.
std::optional<std::uint32_t> gridPrice(const std::string& text, const Security& security, std::string& refusal) {
    auto point = text.find('.');
    std::string whole = text.substr(0, point);
    std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    const std::string quoted = "PRICE '" + text + "'";
    if (point != std::string::npos && fraction.empty()) {
        refusal = quoted + ru(" не число");
        return std::nullopt;
    }
    if (fraction.size() > static_cast<std::size_t>(security.decimals)) {
        refusal = quoted + ru(": знаков после точки больше ") + std::to_string(security.decimals);
        return std::nullopt;
    }
    fraction.resize(static_cast<std::size_t>(security.decimals), '0');
    auto value = plainNumber(whole + fraction, 0xFFFFFFFFu);
    if (!value || whole.empty()) {
        refusal = quoted + ru(" не число");
        return std::nullopt;
    }
    if (*value == 0) {
        refusal = ru("PRICE должна быть больше нуля");
        return std::nullopt;
    }
    if (*value % static_cast<std::uint64_t>(security.intPriceStep) != 0) {
        const auto step = static_cast<std::uint32_t>(security.intPriceStep);
        refusal = quoted + ru(" не кратна шагу цены ") + priceText(step, security.decimals);
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*value);
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
            checked.refusal = ru("Неверная пара '") + piece + "'";
            continue;
        }
        std::string key = upper(trim(piece.substr(0, equals)));
        if (!pairs.emplace(key, trim(piece.substr(equals + 1))).second && checked.refusal.empty())
            checked.refusal = ru("Параметр ") + key + ru(" указан дважды");
    }
    auto value = [&](const char* key) -> const std::string* {
        auto found = pairs.find(key);
        return found == pairs.end() ? nullptr : &found->second;
    };
    auto refuse = [&](std::string reason, std::int32_t status = 5) {
        if (checked.refusal.empty()) {
            checked.refusal = std::move(reason);
            checked.refusalStatus = status;
        }
        return checked;
    };
    auto missing = [&](const char* key) { return refuse(ru("Не указан параметр ") + key); };

    const std::string* transId = value("TRANS_ID");
    if (transId) checked.transIdText = *transId;
    const std::string* action = value("ACTION");
    if (action) checked.action = *action;
    if (!checked.refusal.empty()) return checked;
    if (!transId) return missing("TRANS_ID");
    auto id = plainNumber(*transId, 0x7FFFFFFF);
    if (!id || *id == 0) return refuse("TRANS_ID '" + *transId + ru("' не целое число от 1 до 2147483647"));
    // A terminal rejects a transaction without an action; it is no kill-all.
    if (!action) return missing("ACTION");
    const bool killOrder = *action == "KILL_ORDER";
    const bool moveOrders = *action == "MOVE_ORDERS";

    // The terminal's own examples cancel and move an order without naming the account.
    const std::string* account = value("ACCOUNT");
    if (!killOrder && !moveOrders && (!account || account->empty())) return missing("ACCOUNT");
    const std::string* classCode = value("CLASSCODE");
    const std::string* secCode = value("SECCODE");
    if (!classCode) return missing("CLASSCODE");
    if (!secCode) return missing("SECCODE");
    auto security = std::find_if(securities.begin(), securities.end(), [&](const Security& s) {
        return s.classCode == *classCode && s.code() == *secCode;
    });
    if (security == securities.end())
        return refuse(ru("Неизвестный инструмент ") + *classCode + " " + *secCode);

    Transaction t;
    t.transId = static_cast<std::int64_t>(*id);
    t.securityIndex = static_cast<std::size_t>(security - securities.begin());

    if (*action == "KILL_ALL_ORDERS") {
        t.kind = Transaction::Kind::KillAll;
    } else if (*action == "KILL_ALL_FUTURES_ORDERS") {
        const std::string* base = value("BASE_CONTRACT");
        if (!base || base->empty()) return missing("BASE_CONTRACT");
        t.kind = Transaction::Kind::KillAll;
    } else if (killOrder) {
        const std::string* key = value("ORDER_KEY");
        if (!key) return missing("ORDER_KEY");
        auto number = plainNumber(*key, 999999999999ull);
        if (!number || *number == 0) return refuse("ORDER_KEY '" + *key + ru("' не номер заявки"));
        t.kind = Transaction::Kind::KillOrder;
        t.orderKey = *number;
    } else if (*action == "NEW_ORDER") {
        const std::string* type = value("TYPE");
        if (!type || *type != "L") return refuse(ru("TYPE должен быть L (лимитная заявка)"));
        const std::string* quantity = value("QUANTITY");
        auto lots = quantity ? plainNumber(*quantity, maxQuantity) : std::nullopt;
        if (!lots || *lots == 0)
            return refuse(ru("QUANTITY должно быть целым от 1 до ") + std::to_string(maxQuantity));
        const std::string* price = value("PRICE");
        if (!price) return missing("PRICE");
        std::string reason;
        auto intPrice = gridPrice(*price, *security, reason);
        // Decimals and the step are the exchange's rules.
        if (!intPrice) return refuse(reason, 4);
        const std::string* operation = value("OPERATION");
        if (!operation || (*operation != "B" && *operation != "S")) return refuse(ru("OPERATION должна быть B или S"));
        t.kind = Transaction::Kind::NewOrder;
        t.quantity = static_cast<std::uint32_t>(*lots);
        t.intPrice = *intPrice;
        t.sell = *operation == "S";
    } else if (moveOrders) {
        if (security->classCode != "SPBFUT" && security->classCode != "SPBOPT")
            return refuse(ru("Перемещение заявок есть только на срочном рынке, не в классе ") + *classCode, 10);
        const std::string* mode = value("MODE");
        if (!mode || (*mode != "0" && *mode != "1" && *mode != "2")) return refuse(ru("MODE должен быть 0, 1 или 2"));
        const std::string* number = value("FIRST_ORDER_NUMBER");
        if (!number) return missing("FIRST_ORDER_NUMBER");
        auto key = plainNumber(*number, 999999999999ull);
        if (!key || *key == 0) return refuse("FIRST_ORDER_NUMBER '" + *number + ru("' не номер заявки"));
        const std::string* price = value("FIRST_ORDER_NEW_PRICE");
        if (!price) return missing("FIRST_ORDER_NEW_PRICE");
        std::string reason;
        auto intPrice = gridPrice(*price, *security, reason);
        if (!intPrice) return refuse(reason, 4);
        t.moveMode = *mode == "0" ? 0 : *mode == "1" ? 1 : 2;
        if (t.moveMode != 0) {
            const std::string* quantity = value("FIRST_ORDER_NEW_QUANTITY");
            auto lots = quantity ? plainNumber(*quantity, maxQuantity) : std::nullopt;
            if (!lots || *lots == 0)
                return refuse(ru("FIRST_ORDER_NEW_QUANTITY должно быть целым от 1 до ") + std::to_string(maxQuantity));
            t.quantity = static_cast<std::uint32_t>(*lots);
        }
        t.kind = Transaction::Kind::MoveOrder;
        t.orderKey = *key;
        t.intPrice = *intPrice;
    } else {
        return refuse(ru("Неподдерживаемое действие ACTION=") + *action, 10);
    }
    checked.transaction = t;
    return checked;
}

std::string priceText(std::uint32_t intPrice, int decimals) {
    std::string digits = std::to_string(intPrice);
    if (decimals <= 0) return digits;
    auto places = static_cast<std::size_t>(decimals);
    if (digits.size() <= places) digits.insert(0, places - digits.size() + 1, '0');
    digits.insert(digits.size() - places, ".");
    return digits;
}

}  // namespace standin
