#pragma once
#include <cstdint>
#include <string>

#include "platform/clock.h"

namespace velmora {

class Program;

// The counter's start value from the clock: hundredths of a second since
// 1909-12-28, kept within the terminal's TRANS_ID range 1..2147483647.
std::int32_t SeedTransId(const LocalDateTime& now);
// The counter's value, then advances it (2147483647 wraps to 1).
std::int32_t NextTransId(Program& program);

// Build, log ("formed order: " at level 2) and deliver by OutputWay. Both act on
// CurrentSecurity and need it set. Operation 1 sells, anything else buys.
void SendNewOrder(Program& program, int Operation, std::int32_t Quantity, double Price);

// Whether `quantity` is within MaxOrderQuantity (0 or less: no limit). When not, logs why and
// shows "Количество N больше допустимого M"; `what` names the order or stop in the log.
bool QuantityAllowed(Program& program, std::int32_t quantity, const char* what);
void SendKillAll(Program& program);

// Start-up in TRI mode: empties quik.tri, quik.tro and quik.trr (one empty line each).
void EmptyExchangeFiles(Program& program);

}  // namespace velmora
