#pragma once
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// The terminal's TRANS_ID runs 1..2147483647.
constexpr std::int32_t maxTransId = std::numeric_limits<std::int32_t>::max();

// One line of the terminal's results file quik.tro.
struct TransReply {
    std::uint32_t transId = 0;
    int status = 0;                 // the terminal's STATUS code
    std::uint64_t orderNumber = 0;  // 0 when the line names no order
    std::string transName;          // UTF-8
    std::string description;        // UTF-8
};

// One line of quik.tro as the terminal writes it (Windows-1251 bytes, without its CR LF):
//   TRANS_ID=14;STATUS=3;TRANS_NAME="Ввод заявки"; DESCRIPTION="..."; ORDER_NUMBER=68359610;
// Pairs NAME=value split by ";" with any blanks around them; a value in double quotes may hold
// ";", "=" and blanks ("" inside stands for one quote). Names are matched without regard to
// case; unknown ones are ignored. Nothing when the line is not one reply for certain: no
// TRANS_ID in 1..2147483647 or no STATUS of 0 or more, a number out of range, one of those
// fields twice, a NUL byte, a pair without "=", an unclosed quote or text after a closing one.
std::optional<TransReply> ParseReplyLine(std::string_view line);

// STATUS 0 (sent) and 1 (received by the server) are followed by a later line; 2 and above end
// the transaction.
bool IsFinalStatus(int status);
// The final codes that mean done: 3 executed, 15 accepted after a breach of the broker's limits.
bool IsAcceptedStatus(int status);

}  // namespace velmora
