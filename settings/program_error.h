#pragma once
#include <stdexcept>
#include <string>

namespace velmora {

// The one error type of the program. Top-level routines catch it, log its message
// after their fixed prefix, and go on.
class ProgramError : public std::runtime_error {
public:
    explicit ProgramError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace velmora
