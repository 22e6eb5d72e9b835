#include "platform/trans_library.h"

#include <algorithm>
#include <cstring>

namespace velmora {

void WriteLibraryMessage(const std::string& message, char* errorMessage, std::uint32_t errorMessageSize) {
    if (!errorMessage || errorMessageSize == 0) return;
    std::size_t length = std::min<std::size_t>(message.size(), errorMessageSize - 1);
    std::memcpy(errorMessage, message.data(), length);
    errorMessage[length] = '\0';
}

std::int32_t TransLibrary::setTransactionsReplyCallback(std::int32_t* extendedError, char* errorMessage,
                                                        std::uint32_t errorMessageSize) {
    if (extendedError) *extendedError = 0;
    WriteLibraryMessage("TRANS2QUIK_SET_TRANSACTIONS_REPLY_CALLBACK not supported", errorMessage, errorMessageSize);
    return LibraryFunctionMissing;
}

std::int32_t TransLibrary::subscribeOrders(char*, char*) { return LibraryFunctionMissing; }

bool TransLibrary::startOrders() { return false; }

std::int32_t TransLibrary::unsubscribeOrders() { return LibraryFunctionMissing; }

LibraryEventBatch TransLibrary::takeEvents() { return LibraryEventQueue::process().take(); }

}  // namespace velmora
