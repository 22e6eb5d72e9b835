#include "link_messages.h"

#include <charconv>
#include <vector>

namespace standin {

namespace {

std::string number(double value) {
    char text[32];
    auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

template <typename Number>
bool parse(const std::string& text, Number& value) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// The first `count` fields; the last one takes the rest of the message, tabs and all.
std::vector<std::string> fields(const std::string& message, std::size_t count) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (out.size() + 1 < count) {
        auto tab = message.find('\t', start);
        if (tab == std::string::npos) return {};
        out.push_back(message.substr(start, tab - start));
        start = tab + 1;
    }
    out.push_back(message.substr(start));
    return out;
}

}  // namespace

std::string encodeReply(const ReplyMessage& reply) {
    return "REPLY\t" + std::to_string(reply.status) + '\t' + std::to_string(reply.transId) + '\t' +
           std::to_string(reply.orderNumber) + '\t' + reply.text;
}

std::string encodeOrder(const OrderMessage& order) {
    return std::string(order.load ? "LOAD" : "ORDER") + '\t' + std::to_string(order.transId) + '\t' +
           std::to_string(order.number) + '\t' + order.classCode + '\t' + order.secCode + '\t' + number(order.price) +
           '\t' + std::to_string(order.balance) + '\t' + number(order.value) + '\t' + (order.sell ? "1" : "0") + '\t' +
           std::to_string(order.status);
}

std::optional<ReplyMessage> decodeReply(const std::string& message) {
    auto parts = fields(message, 5);
    ReplyMessage reply;
    if (parts.empty() || parts[0] != "REPLY" || !parse(parts[1], reply.status) || !parse(parts[2], reply.transId) ||
        !parse(parts[3], reply.orderNumber))
        return std::nullopt;
    reply.text = parts[4];
    return reply;
}

std::optional<OrderMessage> decodeOrder(const std::string& message) {
    auto parts = fields(message, 10);
    if (parts.empty() || (parts[0] != "ORDER" && parts[0] != "LOAD")) return std::nullopt;
    OrderMessage order;
    order.load = parts[0] == "LOAD";
    int sell = 0;
    if (!parse(parts[1], order.transId) || !parse(parts[2], order.number) || !parse(parts[5], order.price) ||
        !parse(parts[6], order.balance) || !parse(parts[7], order.value) || !parse(parts[8], sell) ||
        !parse(parts[9], order.status))
        return std::nullopt;
    order.classCode = parts[3];
    order.secCode = parts[4];
    order.sell = sell != 0;
    return order;
}

}  // namespace standin
