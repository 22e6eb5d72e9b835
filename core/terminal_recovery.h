#pragma once

namespace velmora {

class Program;
class MainView;

// First thing in a tick: notices that the terminal process has ended, and while it is lost
// looks for a terminal again on every 50th tick, reloading what depends on it as start-up
// does but without waiting or boxes. Answers whether the terminal can be read.
bool WatchTerminal(Program& program, MainView& view);

}  // namespace velmora
