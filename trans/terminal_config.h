#pragma once

namespace velmora {

class Program;

// Writes the "transactions" keys of QuikPath + "info.ini" for the delivery mode.
// Throws ProgramError("Unable to write to <path>").
void ConfigureTerminalFileMode(Program& program);

}  // namespace velmora
