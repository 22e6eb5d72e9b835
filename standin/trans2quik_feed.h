#pragma once
// The callbacks of the stand-in library: what the terminal reports over the link (replies to the
// library's transactions, order changes) goes to the reply and order callbacks, from the
// library's own reading thread. Shared by the Linux and the Windows library.
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "link_messages.h"

#if defined(_WIN32)
#define STANDIN_STDCALL __stdcall
#else
#define STANDIN_STDCALL
#endif

namespace standin {

// The argument lists of the terminal's library for this word size; `long` is 32 bits as on
// Windows, on every platform.
#if UINTPTR_MAX > 0xFFFFFFFFu
using ReplyCallback = void(STANDIN_STDCALL*)(std::int32_t result, std::int32_t extendedError, std::int32_t replyCode,
                                             std::uint32_t transId, std::uint64_t orderNumber, char* replyMessage,
                                             std::intptr_t replyDescriptor);
using OrderCallback = void(STANDIN_STDCALL*)(std::int32_t mode, std::uint32_t transId, std::uint64_t number,
                                             char* classCode, char* secCode, double price, std::int64_t balance,
                                             double value, std::int32_t isSell, std::int32_t status,
                                             std::intptr_t orderDescriptor);
#else
using ReplyCallback = void(STANDIN_STDCALL*)(std::int32_t result, std::int32_t extendedError, std::int32_t replyCode,
                                             std::uint32_t transId, double orderNumber, char* replyMessage);
using OrderCallback = void(STANDIN_STDCALL*)(std::int32_t mode, std::uint32_t transId, double number,
                                             char* classCode, char* secCode, double price, std::int32_t balance,
                                             double value, std::int32_t isSell, std::int32_t status);
#endif

class CallbackFeed {
public:
    void setReplyCallback(ReplyCallback callback);
    // Adds a class with its tickers ("A|B"); an empty class and empty tickers take every order.
    void subscribe(const std::string& classCode, const std::string& secCodes);
    // Starts the order callback: the orders known are loaded (mode 1, the last mode 2), then
    // every change comes with mode 0.
    void start(OrderCallback callback);
    void unsubscribe();
    // A new connection: its order table comes afresh.
    void connected();

    // On the reading thread: one message of the terminal, and any load that is due.
    void handle(const std::string& message);
    void deliverLoad();

private:
    bool wanted(const OrderMessage& order) const;  // under lock_
    void call(OrderCallback callback, std::int32_t mode, OrderMessage order) const;

    mutable std::mutex lock_;
    ReplyCallback reply_ = nullptr;
    OrderCallback order_ = nullptr;
    bool everything_ = false;
    std::set<std::pair<std::string, std::string>> subscribed_;  // class, ticker ("" = all of the class)
    std::vector<OrderMessage> table_;  // the latest state of each order, in the terminal's order
    bool tableLoaded_ = false;
    bool loadDue_ = false;
};

CallbackFeed& callbackFeed();

// Why the library refuses to send `text` at all (Windows-1251), or empty: the terminal's library
// takes no KILL_ALL_ORDERS or KILL_ALL_STOP_ORDERS, those work through the file only.
std::string libraryRefusal(const std::string& text);

}  // namespace standin
