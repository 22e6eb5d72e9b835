#pragma once

namespace velmora {

struct Settings;

// Writes the "transactions" keys of QuikPath + "info.ini" for the delivery mode.
// Throws ProgramError("Unable to write to <path>").
void ConfigureTerminalFileMode(const Settings& settings);

}  // namespace velmora
