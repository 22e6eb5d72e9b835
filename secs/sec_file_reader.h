#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "secs/security_list.h"

namespace velmora {

class Log;

// The whole securities file in memory with a read position.
struct SecFileStream {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t position = 0;
};

// Reads every record of a securities file. Version 1 or 2; any other version
// answers null without reading or logging. A bad length, a record cut short or
// Decimals above 18 throws ProgramError naming the fault and its byte offset.
std::unique_ptr<TSecShareList> FStreamReadSecShareList(SecFileStream& stream, std::int32_t version,
                                                       Log& log);

}  // namespace velmora
