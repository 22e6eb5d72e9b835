#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/library_events.h"

namespace velmora {

// The terminal's transaction library, called by the names of its functions.
// Arguments are passed exactly as the library takes them: zero-terminated 8-bit
// texts, an out extended error code, an error message buffer and its size.
// Connect, disconnect and send are required; a library without them is not available().
// The callback functions are optional: where the library lacks one, its call answers
// LibraryFunctionMissing (with a message where the call has a buffer).
class TransLibrary {
public:
    virtual ~TransLibrary() = default;
    virtual bool available() const = 0;
    // Why the library could not be loaded; empty when it was.
    virtual std::string loadError() const = 0;
    // Loads it again when it is not loaded (the file may have been put back); whether it is now.
    virtual bool loadAgain() { return available(); }
    virtual std::int32_t connect(char* connectionText, std::int32_t* extendedError,
                                 char* errorMessage, std::uint32_t errorMessageSize) = 0;
    virtual std::int32_t disconnect(std::int32_t* extendedError, char* errorMessage,
                                    std::uint32_t errorMessageSize) = 0;
    virtual std::int32_t sendAsyncTransaction(char* transaction, std::int32_t* extendedError,
                                              char* errorMessage,
                                              std::uint32_t errorMessageSize) = 0;

    // Registers the callback that queues every transaction reply for takeEvents().
    virtual std::int32_t setTransactionsReplyCallback(std::int32_t* extendedError, char* errorMessage,
                                                      std::uint32_t errorMessageSize);
    // Which orders the order callback reports: class codes and security codes, each joined by "|";
    // both empty means all. Then startOrders() registers the callback that queues them.
    virtual std::int32_t subscribeOrders(char* classCode, char* secCodes);
    // False when the library has no such function.
    virtual bool startOrders();
    virtual std::int32_t unsubscribeOrders();

    // The events the callbacks have queued since the last call, oldest first, texts in UTF-8.
    // Called on the window's thread; the callbacks run on one of the library's.
    virtual LibraryEventBatch takeEvents();
};

// Not a code of the library's: the loaded library lacks the function called.
constexpr std::int32_t LibraryFunctionMissing = -1;

// Fills an error buffer of the library's kind with `message`, cut to fit.
void WriteLibraryMessage(const std::string& message, char* errorMessage, std::uint32_t errorMessageSize);

// Loads the library from `folder` (the program's own folder, with its trailing separator).
std::unique_ptr<TransLibrary> loadTransLibrary(const std::string& folder);

}  // namespace velmora
