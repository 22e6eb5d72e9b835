#pragma once
// What the stand-in library's functions answer, on every platform alike.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace standin {

enum Result : std::int32_t {
    Success = 0,
    Failed = 1,
    TerminalNotFound = 2,
    NotConnected = 3,
    TerminalGone = 4,
    WrongSyntax = 5,
};

// Fills the caller's extended code and message (cut to the buffer, always zero-ended).
inline std::int32_t answer(std::int32_t result, long extended, const std::string& message,
                           std::int32_t* extendedErrorCode, char* errorMessage, std::uint32_t errorMessageSize) {
    if (extendedErrorCode) *extendedErrorCode = static_cast<std::int32_t>(extended);
    if (errorMessage && errorMessageSize > 0) {
        std::size_t length = std::min<std::size_t>(message.size(), errorMessageSize - 1);
        std::memcpy(errorMessage, message.data(), length);
        errorMessage[length] = '\0';
    }
    return result;
}

}  // namespace standin
