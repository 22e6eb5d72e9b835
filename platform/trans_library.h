#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace velmora {

// The terminal's transaction library, called by the names of its three functions.
// Arguments are passed exactly as the library takes them: zero-terminated 8-bit
// texts, an out extended error code, an error message buffer and its size.
class TransLibrary {
public:
    virtual ~TransLibrary() = default;
    virtual bool available() const = 0;
    // Why the library could not be loaded; empty when it was.
    virtual std::string loadError() const = 0;
    virtual std::int32_t connect(char* connectionText, std::int32_t* extendedError,
                                 char* errorMessage, std::uint32_t errorMessageSize) = 0;
    virtual std::int32_t disconnect(std::int32_t* extendedError, char* errorMessage,
                                    std::uint32_t errorMessageSize) = 0;
    virtual std::int32_t sendAsyncTransaction(char* transaction, std::int32_t* extendedError,
                                              char* errorMessage,
                                              std::uint32_t errorMessageSize) = 0;
};

// Loads the library from `folder` (the program's own folder, with its trailing separator).
std::unique_ptr<TransLibrary> loadTransLibrary(const std::string& folder);

}  // namespace velmora
