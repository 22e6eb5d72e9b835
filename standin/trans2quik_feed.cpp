#include "trans2quik_feed.h"

#include <algorithm>
#include <cctype>

#include "trans2quik_results.h"
#include "windows1251.h"

#if defined(_WIN32)
// Exported by the .def file alone: a dllexport would add the export names mingw makes up itself.
#define STANDIN_EXPORT extern "C"
#else
#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace standin {

namespace {

std::string trimmed(const std::string& text) {
    auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

void CallbackFeed::setReplyCallback(ReplyCallback callback) {
    std::lock_guard guard(lock_);
    reply_ = callback;
}

void CallbackFeed::subscribe(const std::string& classCode, const std::string& secCodes) {
    std::lock_guard guard(lock_);
    if (classCode.empty() && secCodes.empty()) {
        everything_ = true;
        return;
    }
    std::size_t start = 0;
    for (;;) {
        auto bar = secCodes.find('|', start);
        std::string code = trimmed(secCodes.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (!code.empty() || secCodes.empty()) subscribed_.insert({classCode, code});
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
}

void CallbackFeed::start(OrderCallback callback) {
    std::lock_guard guard(lock_);
    order_ = callback;
    loadDue_ = callback && tableLoaded_;
}

void CallbackFeed::unsubscribe() {
    std::lock_guard guard(lock_);
    order_ = nullptr;
    loadDue_ = false;
    everything_ = false;
    subscribed_.clear();
}

void CallbackFeed::connected() {
    std::lock_guard guard(lock_);
    table_.clear();
    tableLoaded_ = false;
    loadDue_ = false;
}

bool CallbackFeed::wanted(const OrderMessage& order) const {
    return everything_ || subscribed_.count({order.classCode, ""}) ||
           subscribed_.count({order.classCode, order.secCode});
}

void CallbackFeed::call(OrderCallback callback, std::int32_t mode, OrderMessage order) const {
    std::intptr_t noDescriptor = 0;
#if UINTPTR_MAX > 0xFFFFFFFFu
    callback(mode, order.transId, order.number, order.classCode.data(), order.secCode.data(), order.price,
             order.balance, order.value, order.sell ? 1 : 0, order.status, noDescriptor);
#else
    (void)noDescriptor;
    callback(mode, order.transId, static_cast<double>(order.number), order.classCode.data(), order.secCode.data(),
             order.price, static_cast<std::int32_t>(order.balance), order.value, order.sell ? 1 : 0, order.status);
#endif
}

void CallbackFeed::handle(const std::string& message) {
    if (message == loadedMessage) {
        {
            std::lock_guard guard(lock_);
            tableLoaded_ = true;
            loadDue_ = order_ != nullptr;
        }
        deliverLoad();
        return;
    }
    if (auto reply = decodeReply(message)) {
        ReplyCallback callback;
        {
            std::lock_guard guard(lock_);
            callback = reply_;
        }
        if (!callback) return;
#if UINTPTR_MAX > 0xFFFFFFFFu
        callback(Success, 0, reply->status, reply->transId, reply->orderNumber, reply->text.data(), 0);
#else
        callback(Success, 0, reply->status, reply->transId, static_cast<double>(reply->orderNumber),
                 reply->text.data());
#endif
        return;
    }
    auto order = decodeOrder(message);
    if (!order) return;
    // The load, when one is due, comes before any change.
    deliverLoad();
    OrderCallback callback = nullptr;
    {
        std::lock_guard guard(lock_);
        auto known = std::find_if(table_.begin(), table_.end(),
                                  [&](const OrderMessage& o) { return o.number == order->number; });
        if (known == table_.end()) table_.push_back(*order);
        else *known = *order;
        if (!order->load && tableLoaded_ && wanted(*order)) callback = order_;
    }
    if (callback) call(callback, 0, *order);
}

void CallbackFeed::deliverLoad() {
    OrderCallback callback;
    std::vector<OrderMessage> orders;
    {
        std::lock_guard guard(lock_);
        if (!loadDue_) return;
        loadDue_ = false;
        callback = order_;
        for (const OrderMessage& order : table_)
            if (wanted(order)) orders.push_back(order);
    }
    for (std::size_t i = 0; i < orders.size(); ++i) call(callback, i + 1 == orders.size() ? 2 : 1, orders[i]);
}

CallbackFeed& callbackFeed() {
    static CallbackFeed feed;
    return feed;
}

std::string libraryRefusal(const std::string& text) {
    std::size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        std::string piece = text.substr(start, end - start);
        start = end + 1;
        auto equals = piece.find('=');
        if (equals == std::string::npos) continue;
        std::string key = trimmed(piece.substr(0, equals));
        std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::toupper(c); });
        std::string action = trimmed(piece.substr(equals + 1));
        if (key == "ACTION" && (action == "KILL_ALL_ORDERS" || action == "KILL_ALL_STOP_ORDERS"))
            return toWindows1251("Транзакция ") + action + toWindows1251(" не поддерживается библиотекой");
    }
    return "";
}

}  // namespace standin

using namespace standin;

STANDIN_EXPORT std::int32_t STANDIN_STDCALL TRANS2QUIK_SET_TRANSACTIONS_REPLY_CALLBACK(
    ReplyCallback callback, std::int32_t* extendedErrorCode, char* errorMessage, std::uint32_t errorMessageSize) {
    callbackFeed().setReplyCallback(callback);
    return answer(Success, 0, "", extendedErrorCode, errorMessage, errorMessageSize);
}

STANDIN_EXPORT std::int32_t STANDIN_STDCALL TRANS2QUIK_SUBSCRIBE_ORDERS(char* classCode, char* secCodes) {
    callbackFeed().subscribe(classCode ? classCode : "", secCodes ? secCodes : "");
    return Success;
}

STANDIN_EXPORT void STANDIN_STDCALL TRANS2QUIK_START_ORDERS(OrderCallback callback) {
    callbackFeed().start(callback);
}

STANDIN_EXPORT std::int32_t STANDIN_STDCALL TRANS2QUIK_UNSUBSCRIBE_ORDERS() {
    callbackFeed().unsubscribe();
    return Success;
}
