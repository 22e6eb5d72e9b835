#pragma once
// What the stand-in terminal tells its library over the link, besides the greeting: the final
// reply to a transaction the library sent, and the state of an order whenever it changes.
// One message a packet (a pipe message on Windows), fields separated by tabs.
#include <cstdint>
#include <optional>
#include <string>

namespace standin {

struct ReplyMessage {
    std::int32_t status = 0;        // the reply code, as STATUS in quik.tro
    std::uint32_t transId = 0;      // 0 when the text held no valid TRANS_ID
    std::uint64_t orderNumber = 0;  // 0 when the reply names no order
    std::string text;               // Windows-1251, as the terminal's own texts
};

struct OrderMessage {
    bool load = false;  // part of the table sent to a new connection, before `loadedMessage`
    std::uint32_t transId = 0;
    std::uint64_t number = 0;
    std::string classCode;
    std::string secCode;
    double price = 0;
    std::int64_t balance = 0;
    double value = 0;
    bool sell = false;
    std::int32_t status = 1;  // 1 active, 2 cancelled, 3 filled
};

// Ends the order table sent to a new connection.
inline constexpr const char* loadedMessage = "LOADED";

std::string encodeReply(const ReplyMessage& reply);
std::string encodeOrder(const OrderMessage& order);
std::optional<ReplyMessage> decodeReply(const std::string& message);
std::optional<OrderMessage> decodeOrder(const std::string& message);

}  // namespace standin
