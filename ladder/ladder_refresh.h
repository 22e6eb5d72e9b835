#pragma once

namespace velmora {

class Program;
class MainView;

// acRefreshDOM: re-reads the chosen book and maps it onto the ladder grid,
// anchored on the spread. Does nothing while no instrument is chosen.
// Ends with ShowStopQuantities.
void RefreshDOM(Program& program);

}  // namespace velmora
