#include "platform/library_callbacks.h"

#include <cmath>
#include <string>

#include "platform/library_events.h"

namespace velmora {

namespace {

std::string copied(const char* text) { return text ? std::string(text) : std::string(); }

// The 32-bit library gives order numbers as doubles; one that is no whole number in range is no number.
[[maybe_unused]] std::uint64_t orderNumberOf(double number) {
    if (!(number >= 0 && number < 18446744073709551616.0)) return 0;
    return static_cast<std::uint64_t>(number);
}

#if UINTPTR_MAX > 0xFFFFFFFFu
void VELMORA_LIBRARY_CALL queueReply(std::int32_t result, std::int32_t extendedError, std::int32_t replyCode,
                                     std::uint32_t transId, std::uint64_t orderNumber, char* replyMessage,
                                     std::intptr_t) {
    LibraryEventQueue::process().push(
        LibraryReply{result, extendedError, replyCode, transId, orderNumber, copied(replyMessage)});
}

void VELMORA_LIBRARY_CALL queueOrder(std::int32_t mode, std::uint32_t transId, std::uint64_t number, char* classCode,
                                     char* secCode, double price, std::int64_t balance, double value,
                                     std::int32_t isSell, std::int32_t status, std::intptr_t) {
    LibraryEventQueue::process().push(LibraryOrder{mode, transId, number, copied(classCode), copied(secCode), price,
                                                   balance, value, isSell != 0, status});
}
#else
void VELMORA_LIBRARY_CALL queueReply(std::int32_t result, std::int32_t extendedError, std::int32_t replyCode,
                                     std::uint32_t transId, double orderNumber, char* replyMessage) {
    LibraryEventQueue::process().push(
        LibraryReply{result, extendedError, replyCode, transId, orderNumberOf(orderNumber), copied(replyMessage)});
}

void VELMORA_LIBRARY_CALL queueOrder(std::int32_t mode, std::uint32_t transId, double number, char* classCode,
                                     char* secCode, double price, std::int32_t balance, double value,
                                     std::int32_t isSell, std::int32_t status) {
    LibraryEventQueue::process().push(LibraryOrder{mode, transId, orderNumberOf(number), copied(classCode),
                                                   copied(secCode), price, balance, value, isSell != 0, status});
}
#endif

}  // namespace

ReplyCallback queueingReplyCallback() { return &queueReply; }
OrderCallback queueingOrderCallback() { return &queueOrder; }

}  // namespace velmora
