#pragma once
#include <cstdint>

namespace velmora {

#if defined(_WIN32)
#define VELMORA_LIBRARY_CALL __stdcall
#else
#define VELMORA_LIBRARY_CALL
#endif

// The library's reply and order callbacks. Their argument lists differ between the 64-bit library
// and the 32-bit one; on 32-bit stdcall the callee pops its arguments, so a wrong list corrupts
// the library's stack. `long` is 32-bit on Windows in both.
#if UINTPTR_MAX > 0xFFFFFFFFu
using ReplyCallback = void(VELMORA_LIBRARY_CALL*)(std::int32_t result, std::int32_t extendedError,
                                                  std::int32_t replyCode, std::uint32_t transId,
                                                  std::uint64_t orderNumber, char* replyMessage,
                                                  std::intptr_t replyDescriptor);
using OrderCallback = void(VELMORA_LIBRARY_CALL*)(std::int32_t mode, std::uint32_t transId, std::uint64_t number,
                                                  char* classCode, char* secCode, double price,
                                                  std::int64_t balance, double value, std::int32_t isSell,
                                                  std::int32_t status, std::intptr_t orderDescriptor);
#else
using ReplyCallback = void(VELMORA_LIBRARY_CALL*)(std::int32_t result, std::int32_t extendedError,
                                                  std::int32_t replyCode, std::uint32_t transId,
                                                  double orderNumber, char* replyMessage);
using OrderCallback = void(VELMORA_LIBRARY_CALL*)(std::int32_t mode, std::uint32_t transId, double number,
                                                  char* classCode, char* secCode, double price,
                                                  std::int32_t balance, double value, std::int32_t isSell,
                                                  std::int32_t status);
#endif

// Callbacks that copy what they get into LibraryEventQueue::process() and touch nothing else.
ReplyCallback queueingReplyCallback();
OrderCallback queueingOrderCallback();

}  // namespace velmora
