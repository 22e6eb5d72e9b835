#pragma once

namespace velmora {

class Program;

// acRefreshDOM: re-reads the chosen book and maps it onto the ladder grid,
// anchored on the spread. Does nothing while no instrument is chosen. The tick
// runs ShowStopQuantities right after it. Answers whether the book was read and accepted.
bool RefreshDOM(Program& program);

}  // namespace velmora
