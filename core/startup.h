#pragma once

namespace velmora {

class Program;
class MainView;

// Start-up, run once from the window's own queue after the window exists.
void InitAll(Program& program, MainView& view);
// Shutdown, run as the window is destroyed.
void DoneAll(Program& program);
// One tick of the 100 ms refresh timer.
void RefreshTick(Program& program, MainView& view);

// Reads sec.dat into SecurityList, a bad file logged as at start-up; false, logged, when the
// file is missing. Throws ProgramError when it cannot be read at all.
bool ReadSecurityList(Program& program);

// The window was closed: a pending wait for the terminal ends, the timer stops at its next tick.
void FormClose(Program& program);

}  // namespace velmora
